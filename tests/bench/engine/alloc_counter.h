#pragma once
// Counts calls of the global operator new in this program (replaced in alloc_counter.cpp).
#include <cstdint>

namespace kvr::bench {
std::uint64_t AllocationCount();
} // namespace kvr::bench
