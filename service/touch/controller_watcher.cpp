#include "service/touch/controller_watcher.h"

#include "service/framework/ntservice.h"
#include "service/touch/library_access.h"

#include <exception>
#include <span>

namespace kvr::touchsvc {

ControllerWatcher::Marks& ControllerWatcher::marks(const Unit& unit) {
    return unit.bus == Bus::Serial ? serial_[unit.number] : usb_[unit.number];
}

void ControllerWatcher::run() {
    service_.Trace("Controller watcher started");
    do {
        try {
            turn();
        } catch (const std::exception& e) {
            // Out of memory or threads for a moment: the next pass tries again.
            service_.Trace("Controller watcher: %s", e.what());
        }
    } while (!events_.stop.wait(kWatchInterval));
    service_.Trace("Controller watcher ended");
}

void ControllerWatcher::turn() {
    for (auto& m : serial_)
        m.seen = false;
    for (auto& m : usb_)
        m.seen = false;

    for (const std::string& name : listControllers()) {
        const auto unit = parseControllerName(name);
        if (!unit) continue; // a unit number no driver has: nothing to set up
        Marks& m = marks(*unit);
        m.seen = true;
        if (!m.setUp) setUp(*unit);
    }

    auto forget = [this](std::span<Marks> all, Bus bus) {
        for (std::size_t n = 0; n < all.size(); ++n) {
            if (!all[n].setUp || all[n].seen) continue;
            all[n].setUp = false;
            service_.Trace("Controller %s is gone",
                           controllerName({bus, static_cast<std::uint8_t>(n)}).c_str());
        }
    };
    forget(serial_, Bus::Serial);
    forget(usb_, Bus::Usb);
}

void ControllerWatcher::setUp(const Unit& unit) {
    auto link = DriverLink::open(unit.bus);
    if (!link) return; // its driver is not there (yet): next pass
    const std::string name = controllerName(unit);
    const std::uint8_t n = unit.number;

    announceDisplays();
    // A driver keeps the per-controller events of a unit's first appearance and refuses them
    // afterwards; the events are the same ones, so a refusal changes nothing.
    link->registerUnitEvent(IOCTL_RS232_SET_UP_EVENT, n, events_.touchUp);
    link->registerUnitEvent(IOCTL_RS232_SET_DOWN_EVENT, n, events_.touchDown);
    // The USB driver reads the controller's display assignment.
    if (unit.bus == Bus::Usb) link->request(IOCTL_RS232_READ_DISPLAY_NUMBER, {n}, 0);
    link->registerGlobalEvent(IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, events_.globalDown);
    link->registerGlobalEvent(IOCTL_RS232_SET_GLOBAL_UP_EVENT, events_.globalUp);
    const bool on = link->sendReportMode(n);
    if (unit.bus == Bus::Usb) link->sendCommand(n, kUsbStartCommand);
    marks(unit).setUp = true;
    service_.Trace("Controller %s set up%s", name.c_str(),
                   on ? "" : " (report mode not acknowledged)");
}

} // namespace kvr::touchsvc
