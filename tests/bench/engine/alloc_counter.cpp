// Replaces the global allocation functions with counting ones. Kept in a file of its own so
// the compiler never sees a replaced operator new inlined next to the code it measures.
#include "tests/bench/engine/alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::uint64_t> g_allocations{0};
} // namespace

namespace kvr::bench {
std::uint64_t AllocationCount() {
    return g_allocations.load(std::memory_order_relaxed);
}
} // namespace kvr::bench

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
    return operator new(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
