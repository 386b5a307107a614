#include "calibration/controller.h"

#include "tsapi/tsapi.h"

#include <algorithm>
#include <vector>

namespace kvr::calibration {
namespace {

// GetDisplayNumber's answer for a controller bound to no display.
constexpr std::uint8_t kNoDisplayNumber = 254;

} // namespace

bool controllerListed(std::string_view name, std::uint8_t count, std::uint8_t bufferLength) {
    // One byte more than the library is told of, so a name that fills the buffer exactly is
    // still terminated.
    std::vector<char> buffer(std::size_t{bufferLength} + 1);
    for (unsigned index = 1; index <= count; ++index) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        GetControllerName(static_cast<std::uint8_t>(index), buffer.data(), bufferLength);
        if (std::string_view(buffer.data()) == name) return true;
    }
    return false;
}

DisplayLookup controllerDisplay(std::int32_t handle, std::uint8_t nameBufferLength,
                                DisplayPlace& place) {
    const std::uint8_t number = GetDisplayNumber(handle);
    if (number == kNoDisplayNumber) return DisplayLookup::Unbound;
    std::uint8_t display = static_cast<std::uint8_t>(number + 1);
    const std::uint8_t count = GetExistDisplays();
    if (count < display) display = 1;

    std::vector<char> name(std::size_t{nameBufferLength} + 1, '\0');
    if (GetDisplayName(display, name.data(), nameBufferLength) != 1)
        return DisplayLookup::NoDisplay;
    std::int32_t rect[4] = {0, 0, 0, 0};
    if (GetDisplayArea(name.data(), rect) != 1) return DisplayLookup::NoDisplay;
    if (rect[2] <= rect[0] || rect[3] <= rect[1]) return DisplayLookup::NoDisplay;
    place.name = name.data();
    place.left = rect[0];
    place.top = rect[1];
    place.right = rect[2];
    place.bottom = rect[3];
    return DisplayLookup::Found;
}

void restoreReportMode(std::int32_t handle, std::uint8_t savedMode) {
    if (savedMode != kCaptureReportMode) SetReportMode(handle, savedMode);
}

} // namespace kvr::calibration
