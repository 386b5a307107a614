#pragma once
// The driver as a whole: what DriverEntry creates at load and KvrRs232Unload takes down.
//
// Load, in order: the pointer-port entry in the hardware device map, the pointer-port device
// with the pointer sink connected to it as the pointer class driver, the driver-wide context
// (ControlExtension and the device records, ParameterInitialize), the serial connection, and
// last the control device socket, so the socket appears only when the driver is ready.
//
// Unload (mended: the driver can be unloaded with controllers connected): the control device
// goes first (no new requests), then every connected device is disconnected, then the event
// references are released, the device-map entry removed and the sink closed.

#include "driver/control/context.h"

#include <memory>
#include <string>

namespace kvr::driver {

enum class Role { Serial, Usb };

struct DriverOptions {
    Role role = Role::Serial;
    std::string pointerKind = "auto"; // auto | uinput | xtest | trace | none
    std::string traceTarget;          // trace sink: file, FIFO, Unix socket or "-"
    std::string group;                // group of the control socket (empty: the daemon's)
};

// The service registry path the driver is loaded under, written as the data of its
// device-map entry.
std::string DriverRegistryPath(Role role);
// The device-map key the pointer class driver reads.
inline constexpr const char* kPointerPortKey =
    "\\REGISTRY\\Machine\\HARDWARE\\DEVICEMAP\\PointerPort";
// FindExistingPointerPort: the first N in 0..7 for which no value \Device\PointerPort<N>
// exists under the device-map key, 8 when all exist.
unsigned FindExistingPointerPort();

class Driver {
public:
    // DriverEntry. Nothing, with a one-line reason in `error`, when the load fails.
    static std::unique_ptr<Driver> load(const DriverOptions& options, std::string& error);
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // KvrRs232Unload; safe to call twice (the destructor calls it).
    void unload();
    // USB role: connects units whose tty link appeared and releases those whose line hung up.
    void scanHotplug();

    [[nodiscard]] std::string controlDeviceName() const;
    [[nodiscard]] DriverContext& context();

    struct Impl;

private:
    explicit Driver(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace kvr::driver
