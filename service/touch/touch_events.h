#pragma once
// The five events of the touch service, all manual-reset and initially clear. The drivers get
// the four touch events (per controller and driver-wide) and only ever set them; the service's
// stop control sets the stop event.

#include "platform/ipc/event.h"

#include <array>
#include <optional>

namespace kvr::touchsvc {

struct TouchEvents {
    ipc::Event stop;
    ipc::Event touchDown;
    ipc::Event touchUp;
    ipc::Event globalDown;
    ipc::Event globalUp;

    // Nothing when the system has no event left to give.
    static std::optional<TouchEvents> create();

    // The event loop's wait list, in its priority order.
    enum Index { kStop = 0, kTouchDown, kTouchUp, kGlobalDown, kGlobalUp, kCount };
    [[nodiscard]] std::array<const ipc::Event*, kCount> inPriorityOrder() const {
        return {&stop, &touchDown, &touchUp, &globalDown, &globalUp};
    }
};

inline std::optional<TouchEvents> TouchEvents::create() {
    auto make = [] { return ipc::Event::create(ipc::ResetMode::Manual); };
    auto stop = make(), down = make(), up = make(), globalDown = make(), globalUp = make();
    if (!stop || !down || !up || !globalDown || !globalUp) return std::nullopt;
    return TouchEvents{std::move(*stop), std::move(*down), std::move(*up), std::move(*globalDown),
                       std::move(*globalUp)};
}

} // namespace kvr::touchsvc
