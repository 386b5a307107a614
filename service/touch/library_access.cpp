#include "service/touch/library_access.h"

#include "tsapi/tsapi.h"

#include <mutex>

namespace kvr::touchsvc {

namespace {

std::mutex& libraryLock() {
    static std::mutex lock;
    return lock;
}

// "RS232_DEVICE7" and its zero with room to spare.
constexpr std::uint8_t kNameBufferBytes = 32;

} // namespace

std::vector<std::string> listControllers() {
    std::lock_guard lock(libraryLock());
    std::vector<std::string> names;
    const std::uint8_t count = GetExistControllers();
    for (std::uint8_t i = 1; i <= count; ++i) {
        char buffer[kNameBufferBytes] = {};
        if (GetControllerName(i, buffer, kNameBufferBytes) == 1) names.emplace_back(buffer);
    }
    return names;
}

unsigned announceDisplays() {
    std::lock_guard lock(libraryLock());
    return GetExistDisplays();
}

} // namespace kvr::touchsvc
