#pragma once
// The controller watcher: once a second it lists the controllers and sets up every one that is
// new (or came back): the display table and the service's touch events go to its driver, then
// its report-mode command (and for USB the display read and the USB start command).
//
// Marks per unit (serial 0..7, USB 0..3): "set up" lasts from a successful set-up until a pass
// that no longer lists the controller; "seen" is per pass. A controller whose driver cannot be
// reached is tried again in the next pass.

#include "service/touch/controller_link.h"
#include "service/touch/touch_events.h"

#include <array>
#include <chrono>

namespace kvr {
class CNTService;
}

namespace kvr::touchsvc {

inline constexpr std::chrono::milliseconds kWatchInterval{1000};

class ControllerWatcher {
public:
    ControllerWatcher(const TouchEvents& events, CNTService& service)
        : events_(events), service_(service) {}

    // One pass.
    void turn();
    // Passes once a second until the stop event is set.
    void run();

private:
    // Only the watcher thread touches them.
    struct Marks {
        bool setUp = false;
        bool seen = false;
    };
    Marks& marks(const Unit& unit);
    void setUp(const Unit& unit);

    const TouchEvents& events_;
    CNTService& service_;
    std::array<Marks, kSerialUnits> serial_{};
    std::array<Marks, kUsbUnits> usb_{};
};

} // namespace kvr::touchsvc
