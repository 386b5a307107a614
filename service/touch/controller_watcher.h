#pragma once
// The controller watcher: once a second it lists the controllers and sets up every one that is
// new (or came back): the display table and the service's touch events go to its driver, then
// its report-mode command (and for USB the display read and the USB start command).
//
// It also follows the drivers themselves. It keeps one connection to each driver that serves
// (a DriverLink) and registers the touch events through it, so the driver holds them exactly
// as long as this service runs. Without polling it waits for a driver to start serving (its
// control socket appears: inotify on the runtime folder) and for a driver to go away (the
// connection ends). When a driver serves, from the start or again after a restart, the serial
// units with a configured COM port are connected and every unit of that driver is set up
// afresh; the drivers' own order of start-up (or systemd's) does not matter.
//
// Marks per unit (serial 0..7, USB 0..3): "set up" lasts from a successful set-up until a pass
// that no longer lists the controller or until its driver goes away; "seen" is per pass. A
// controller whose driver does not serve is tried again in the next pass.

#include "service/touch/controller_link.h"
#include "service/touch/touch_events.h"

#include <array>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kvr {
class CNTService;
}

namespace kvr::touchsvc {

inline constexpr std::chrono::milliseconds kWatchInterval{1000};

// Every switch of what the controllers report (report mode at set-up and after the access
// time-out, silence at a touch and at system shutdown) is made under `lock`, so two never
// cross on the line; once `shutDown` is set nothing switches a controller on again.
struct ControllerSwitch {
    std::mutex lock;
    bool shutDown = false; // under lock
};

class ControllerWatcher {
public:
    ControllerWatcher(const TouchEvents& events, CNTService& service, ControllerSwitch& control)
        : events_(events), service_(service), switch_(control) {}

    // One pass.
    void turn();
    // Follows the drivers and passes once a second until the stop event is set.
    void run();

private:
    // Only the watcher thread touches them.
    struct Marks {
        bool setUp = false;
        bool seen = false;
    };
    Marks& marks(const Unit& unit);
    void setUp(const Unit& unit);
    std::optional<DriverLink>& driver(Bus bus);
    // Drops the connection of a driver that went away; opens one to every driver that has no
    // connection and whose device is in `appeared` (every one when `anyDriver`), or whose
    // device is there but could not be opened in an earlier pass.
    void followDrivers(const std::vector<std::string>& appeared, bool anyDriver);
    void driverServes(Bus bus);
    void forgetUnits(Bus bus);
    void connectConfiguredPorts(DriverLink& link);

    const TouchEvents& events_;
    CNTService& service_;
    ControllerSwitch& switch_;
    std::array<Marks, kSerialUnits> serial_{};
    std::array<Marks, kUsbUnits> usb_{};
    std::optional<DriverLink> serialDriver_;
    std::optional<DriverLink> usbDriver_;
    std::array<bool, 2> openFailed_{}; // per bus: its device is there, the last open failed
};

} // namespace kvr::touchsvc
