#include "utilities/monmatch/matcher.h"

#include "protocol/session.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>

namespace kvr::monmatch {

namespace {

constexpr std::uint8_t kNameBytes = 20;

bool isReportMode(std::uint8_t mode) {
    return mode >= 1 && mode <= 3;
}

} // namespace

void ReportModes::saveAndSwitch() {
    const std::size_t count = std::min<std::size_t>(GetExistControllers(), kMaxControllers);
    for (std::size_t i = 0; i < count; ++i) {
        std::array<char, kNameBytes> name{};
        GetControllerName(static_cast<std::uint8_t>(i + 1), name.data(), kNameBytes);
        names_.emplace_back(name.data());
        const protocol::ControllerSession controller(names_.back());
        if (!controller.isOpen()) continue;
        // A mode that could not be read stays "drawing mode", which is never written back:
        // a failed read must not become a mode change at exit.
        const std::uint8_t mode = GetReportMode(controller.handle());
        if (!isReportMode(mode)) continue;
        saved_[i] = mode;
        if (mode == kButtonMode) SetReportMode(controller.handle(), kDrawingMode);
    }
}

void ReportModes::restore() {
    if (restored_) return;
    restored_ = true;
    for (std::size_t i = 0; i < names_.size(); ++i) {
        const protocol::ControllerSession controller(names_[i]);
        if (controller.isOpen() && saved_[i] != kDrawingMode)
            SetReportMode(controller.handle(), saved_[i]);
    }
}

bool MonitorMatcher::start() {
    current_ = 1;
    count_ = GetExistDisplays();
    if (count_ == 0) return false;
    AskToSetDisplayNumber(0);
    return true;
}

MonitorMatcher::Advance MonitorMatcher::advance() {
    if (current_ >= count_) {
        current_ = static_cast<std::uint8_t>(count_ + 1);
        return Advance::Finished;
    }
    ++current_;
    AskToSetDisplayNumber(static_cast<std::uint8_t>(current_ - 1));
    return Advance::NextDisplay;
}

bool MonitorMatcher::touched() {
    return QueryDisplayBeTouched() == 1;
}

std::optional<DisplayArea> MonitorMatcher::area(std::uint8_t number) const {
    std::array<char, kNameBytes> name{};
    if (GetDisplayName(number, name.data(), kNameBytes) != 1) return std::nullopt;
    std::array<std::int32_t, 4> rect{};
    if (GetDisplayArea(name.data(), rect.data()) != 1) return std::nullopt;
    return DisplayArea{rect[0], rect[1], rect[2], rect[3]};
}

} // namespace kvr::monmatch
