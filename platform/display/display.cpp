#include "platform/display/display.h"

#include "platform/common/log.h"
#include "platform/display/randr.h"
#include "platform/display/wayland.h"

#include <cstdlib>

namespace kvr::display {

const char* sourceName(Source source) {
    switch (source) {
    case Source::Override:
        return "override";
    case Source::Wayland:
        return "wayland";
    case Source::RandR:
        return "randr";
    case Source::Fallback:
        return "fallback";
    }
    return "?";
}

DisplayList enumerate() {
    DisplayList list;
    const char* fixed = std::getenv("KVR_DISPLAYS");
    if (fixed != nullptr && *fixed != '\0') {
        list.source = Source::Override;
        if (std::string_view(fixed) == "none") return list;
        list.displays = parseDisplayList(fixed);
        if (list.displays.empty())
            KVR_LOG_WARN("KVR_DISPLAYS holds no valid display: the displays cannot be listed");
        return list;
    }

    detail::WaylandInfo wayland = detail::queryWayland();
    if (!wayland.outputs.empty()) {
        list.source = Source::Wayland;
        list.displays = std::move(wayland.outputs);
        return list;
    }

    detail::XScreenInfo x = detail::queryX();
    if (!x.monitors.empty()) {
        list.source = Source::RandR;
        list.displays = std::move(x.monitors);
        // When the server marks none primary, the monitor at the root origin stands in.
        bool anyPrimary = false;
        for (const auto& d : list.displays)
            anyPrimary = anyPrimary || d.primary;
        if (!anyPrimary) {
            for (auto& d : list.displays) {
                if (d.leftPx == 0 && d.topPx == 0) {
                    d.primary = true;
                    break;
                }
            }
        }
        return list;
    }

    list.source = Source::Fallback;
    Display d;
    d.name = kFallbackName;
    const bool haveScreen = x.serverAnswered && x.screenWidthPx > 0 && x.screenHeightPx > 0;
    d.rightPx = haveScreen ? x.screenWidthPx : kFallbackWidthPx;
    d.bottomPx = haveScreen ? x.screenHeightPx : kFallbackHeightPx;
    d.primary = true;
    list.displays.push_back(std::move(d));
    return list;
}

} // namespace kvr::display
