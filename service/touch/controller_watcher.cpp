#include "service/touch/controller_watcher.h"

#include "platform/common/log.h"
#include "platform/ipc/control_device.h"
#include "platform/ipc/device_watch.h"
#include "platform/registry/registry.h"
#include "service/framework/ntservice.h"
#include "service/touch/library_access.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <span>
#include <strings.h>

namespace kvr::touchsvc {

namespace {

// A serial unit's driver parameters (its COM port among them).
constexpr const char* kSerialDeviceKeyFormat =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device%d";
constexpr std::uint32_t kConnectBaud = 9600;
constexpr std::uint32_t kMaxConfiguredComPort = 15;

constexpr Bus kBuses[] = {Bus::Serial, Bus::Usb};

// The device name without its "\\.\" prefix, as the control socket is named.
std::string_view bareDeviceName(Bus bus) {
    std::string_view name = deviceName(bus);
    return name.substr(name.rfind('\\') + 1);
}

bool appearedAmong(Bus bus, const std::vector<std::string>& appeared) {
    const std::string bare(bareDeviceName(bus));
    // Device names compare without regard to case, as they are opened.
    return std::any_of(appeared.begin(), appeared.end(), [&](const std::string& name) {
        return ::strcasecmp(name.c_str(), bare.c_str()) == 0;
    });
}

} // namespace

ControllerWatcher::Marks& ControllerWatcher::marks(const Unit& unit) {
    return unit.bus == Bus::Serial ? serial_[unit.number] : usb_[unit.number];
}

std::optional<DriverLink>& ControllerWatcher::driver(Bus bus) {
    return bus == Bus::Serial ? serialDriver_ : usbDriver_;
}

void ControllerWatcher::run() {
    service_.Trace("Controller watcher started");
    // The watch goes first: a driver that starts serving after the first look is still seen.
    auto watch = ipc::DeviceWatch::open();
    if (!watch)
        service_.Trace("Cannot watch the control devices: looking for the drivers every pass");
    std::vector<std::string> appeared;
    bool anyDriver = true;
    for (;;) {
        try {
            followDrivers(appeared, anyDriver);
            turn();
        } catch (const std::exception& e) {
            // Out of memory or threads for a moment: the next pass tries again.
            service_.Trace("Controller watcher: %s", e.what());
        }
        if (!watch) {
            if (events_.stop.wait(kWatchInterval)) break;
            continue;
        }
        const std::array<const ipc::ControlConnection*, 2> links{
            serialDriver_ ? &serialDriver_->connection() : nullptr,
            usbDriver_ ? &usbDriver_->connection() : nullptr};
        if (watch->wait(events_.stop, links, kWatchInterval) == ipc::DeviceWatch::Wake::Stop) break;
        appeared = watch->takeAppeared();
        anyDriver = false;
    }
    service_.Trace("Controller watcher ended");
}

void ControllerWatcher::followDrivers(const std::vector<std::string>& appeared, bool anyDriver) {
    for (Bus bus : kBuses) {
        std::optional<DriverLink>& link = driver(bus);
        if (link && link->ended()) {
            link.reset();
            forgetUnits(bus);
            service_.Trace("Driver %s went away", deviceName(bus).data());
        }
        bool& failed = openFailed_[static_cast<std::size_t>(bus == Bus::Usb)];
        if (link || !(anyDriver || failed || appearedAmong(bus, appeared))) continue;
        link = DriverLink::open(bus);
        // A device that is there but cannot be opened for a moment (descriptors or memory
        // short, its queue full) is tried again in the next pass; one that is not there waits
        // for its appearance.
        if (link) {
            failed = false;
            driverServes(bus);
        } else {
            const auto path = ipc::devicePath(deviceName(bus));
            std::error_code ec;
            failed = path && std::filesystem::exists(*path, ec);
        }
    }
}

// A driver serves (at start, or again after it went away): it has no touch events, and its
// serial units are connected only on request, so everything is done afresh.
void ControllerWatcher::driverServes(Bus bus) {
    service_.Trace("Driver %s serves", deviceName(bus).data());
    forgetUnits(bus);
    // Under the switch lock, as every switch-on: a shutdown that comes meanwhile waits, and
    // once it is done no port is connected again.
    std::lock_guard lock(switch_.lock);
    if (switch_.shutDown) return;
    if (bus == Bus::Serial) connectConfiguredPorts(*driver(bus));
}

void ControllerWatcher::forgetUnits(Bus bus) {
    if (bus == Bus::Serial) {
        serial_.fill(Marks{});
    } else {
        usb_.fill(Marks{});
    }
}

// The serial driver connects no port when it loads: every serial unit whose COM port is
// configured (1..15) is connected at 9600 baud. A unit the driver has already been given a
// port for is left alone, since a second connect request would reset the packet format of a
// controller that is running.
void ControllerWatcher::connectConfiguredPorts(DriverLink& link) {
    for (int n = 0; n < kSerialUnits; ++n) {
        char key[128];
        std::snprintf(key, sizeof key, kSerialDeviceKeyFormat, n);
        std::uint32_t port = 0;
        if (reg::queryDword(key, "COMPORT", port) != reg::Status::Ok) continue;
        if (port < 1 || port > kMaxConfiguredComPort) continue;
        const auto unit = static_cast<std::uint8_t>(n);
        std::vector<std::uint8_t> current;
        if (link.request(IOCTL_RS232_CURRENT_COM_PORT, {unit}, 1, &current) &&
            current.size() == 1 && current[0] != 0)
            continue;
        std::vector<std::uint8_t> in{unit};
        for (std::uint32_t v : {port, kConnectBaud})
            for (int i = 0; i < 4; ++i)
                in.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        service_.Trace("Connecting RS232_DEVICE%d on COM%u", n, port);
        link.request(IOCTL_RS232_CHANGE_COM_PORT, in, 1);
    }
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
    std::optional<DriverLink>& link = driver(unit.bus);
    if (!link) return; // its driver does not serve (yet): next pass
    const std::string name = controllerName(unit);
    const std::uint8_t n = unit.number;

    // A set-up switches the controller on: never across a time-out's or the shutdown's switch.
    std::lock_guard lock(switch_.lock);
    if (switch_.shutDown) return;
    announceDisplays();
    // The driver keeps these events while this connection stays open, and refuses a second
    // registration meanwhile; the events are the same ones, so a refusal changes nothing.
    link->registerUnitEvent(IOCTL_RS232_SET_UP_EVENT, n, events_.touchUp);
    link->registerUnitEvent(IOCTL_RS232_SET_DOWN_EVENT, n, events_.touchDown);
    // The USB driver reads the controller's display assignment.
    if (unit.bus == Bus::Usb) link->request(IOCTL_RS232_READ_DISPLAY_NUMBER, {n}, 0);
    link->registerGlobalEvent(IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, events_.globalDown);
    link->registerGlobalEvent(IOCTL_RS232_SET_GLOBAL_UP_EVENT, events_.globalUp);
    const bool on = link->sendReportMode(n);
    if (unit.bus == Bus::Usb) link->sendCommand(n, kUsbStartCommand);
    marks(unit).setUp = true;
    // The one line an administrator looks for: the controller reports from now on.
    KVR_LOG_INFO("controller %s set up%s", name.c_str(),
                 on ? "" : " (report mode not acknowledged)");
}

} // namespace kvr::touchsvc
