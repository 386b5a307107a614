#include "platform/desktop/mouse_settings.h"

#include "platform/registry/registry.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace kvr::desktop {
namespace {

constexpr const char* kSpeedValue = "DoubleClickSpeed";
constexpr const char* kWidthValue = "DoubleClickWidth";
constexpr const char* kHeightValue = "DoubleClickHeight";

uint32_t readNumber(const char* name, uint32_t fallback) {
    try {
        reg::Value v;
        if (reg::queryValue(kMouseKey, name, v) != reg::Status::Ok) return fallback;
        if (v.type == reg::Type::Dword) return v.dword;
        // Decimal text, surrounding blanks allowed; anything else is unreadable.
        const char* s = v.sz.c_str();
        while (*s == ' ' || *s == '\t')
            ++s;
        if (*s < '0' || *s > '9') return fallback;
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(s, &end, 10);
        while (*end == ' ' || *end == '\t')
            ++end;
        if (errno != 0 || *end != '\0' || n > UINT32_MAX) return fallback;
        return static_cast<uint32_t>(n);
    } catch (const std::exception&) {
        return fallback;
    }
}

bool writeNumber(const char* name, uint32_t value) {
    try {
        if (reg::createKey(kMouseKey) != reg::Status::Ok) return false;
        return reg::setSz(kMouseKey, name, std::to_string(value)) == reg::Status::Ok;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

uint32_t doubleClickTimeMs() {
    const uint32_t ms = readNumber(kSpeedValue, kDefaultDoubleClickMs);
    if (ms == 0) return kDefaultDoubleClickMs;
    return ms > kMaxDoubleClickMs ? kMaxDoubleClickMs : ms;
}
uint32_t doubleClickWidthPx() {
    return readNumber(kWidthValue, kDefaultDoubleClickWidthPx);
}
uint32_t doubleClickHeightPx() {
    return readNumber(kHeightValue, kDefaultDoubleClickHeightPx);
}

DoubleClickSettings doubleClickSettings() {
    return {doubleClickTimeMs(), doubleClickWidthPx(), doubleClickHeightPx()};
}

bool setDoubleClickTimeMs(uint32_t ms) {
    return writeNumber(kSpeedValue, ms);
}
bool setDoubleClickWidthPx(uint32_t px) {
    return writeNumber(kWidthValue, px);
}
bool setDoubleClickHeightPx(uint32_t px) {
    return writeNumber(kHeightValue, px);
}

} // namespace kvr::desktop
