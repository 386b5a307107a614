#include "driver/control/dispatch.h"
#include "driver/core/driver.h"
#include "driver/core/pointer_delivery.h"
#include "driver/core/serial_connection.h"
#include "platform/common/log.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "platform/registry/registry.h"

#include <cstdio>

namespace kvr::driver {

using namespace ::kvr::control; // the control interface the driver serves
namespace ntstatus = ::kvr::ipc::status;

namespace {

std::string PointerPortValueName(unsigned n) {
    char name[64];
    if (std::snprintf(name, sizeof name, "\\Device\\PointerPort%u", n) <= 0)
        return "\\Device\\PointerPort0";
    return name;
}

} // namespace

std::string DriverRegistryPath(Role role) {
    return role == Role::Usb ? "\\REGISTRY\\Machine\\System\\CurrentControlSet\\Services\\KvrUsbMgr"
                             : "\\REGISTRY\\Machine\\System\\CurrentControlSet\\Services\\KvrRs232";
}

unsigned FindExistingPointerPort() {
    for (unsigned n = 0; n < 8; ++n) {
        reg::Value value;
        if (reg::queryValue(kPointerPortKey, PointerPortValueName(n), value) != reg::Status::Ok)
            return n;
    }
    return 8;
}

struct Driver::Impl {
    DriverOptions options;
    std::unique_ptr<DriverContext> context;
    std::unique_ptr<SinkClassService> classService;
    std::unique_ptr<SerialConnection> serial;
    std::unique_ptr<ipc::ControlServer> server;
    std::string pointerPortValue; // empty: no device-map entry written
    bool unloaded = false;
};

Driver::Driver(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Driver::~Driver() {
    unload();
}

std::unique_ptr<Driver> Driver::load(const DriverOptions& options, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->options = options;
    const bool usb = options.role == Role::Usb;

    // Folders and store first, before anything is changed: a runtime folder the control
    // device cannot be served from, or a store that cannot be written (every setting would be
    // lost without a word), and the driver does not start.
    const DriverRole& role = usb ? kUsbRole : kSerialRole;
    if (!ipc::ControlServer::canServe(std::string(role.controlDeviceName), error)) return nullptr;
    std::string reason;
    if (reg::probeStore(reason) != reg::Status::Ok) {
        error = "settings store: " + reason;
        return nullptr;
    }

    // The pointer sink stands for the pointer class driver; open it first so that a sink
    // asked for by name and not available fails the load with a clear reason.
    std::unique_ptr<pointer::Sink> sink;
    if (options.pointerKind != "none") {
        sink = pointer::openSink(options.pointerKind, options.traceTarget, error);
        if (!sink) return nullptr;
    }

    // The pointer-port entry of the hardware device map: what the pointer class driver looks
    // for. A store that cannot be written costs the entry only.
    const unsigned n = FindExistingPointerPort();
    const std::string valueName = PointerPortValueName(n);
    if (reg::createKey(kPointerPortKey) == reg::Status::Ok &&
        reg::setSz(kPointerPortKey, valueName, DriverRegistryPath(options.role)) == reg::Status::Ok)
        impl->pointerPortValue = valueName;
    else
        KVR_LOG_WARN("cannot write %s in the device map", valueName.c_str());

    // ControlExtension and the device records (ParameterInitialize), and the pointer-port
    // device with the sink connected to it as the class service.
    impl->context = std::make_unique<DriverContext>(usb ? kUsbRole : kSerialRole);
    if (sink) {
        KVR_LOG_INFO("pointer sink: %s", sink->kind());
        impl->classService = std::make_unique<SinkClassService>(std::move(sink));
        // The class driver's connect request, as it arrives on the pointer-port device.
        PointerConnectData connect;
        connect.ClassDeviceObject = impl->classService.get();
        connect.ClassService = impl->classService.get();
        const std::uint32_t status =
            KvrRs232_InternIoCtl(*impl->context, DeviceObject::PointerPort,
                                 IOCTL_INTERNAL_MOUSE_CONNECT, &connect, sizeof connect);
        if (status != 0) KVR_LOG_WARN("pointer class connect failed: 0x%08X", status);
    }
    impl->serial = std::make_unique<SerialConnection>(*impl->context);
    impl->context->attachSerialLink(impl->serial.get());

    // The control device last: its socket appears only once everything above is ready.
    DriverContext* ctx = impl->context.get();
    impl->server =
        ipc::ControlServer::start(std::string(ctx->role().controlDeviceName), ControlDispatch(*ctx),
                                  options.group, error, ControlClose(*ctx));
    if (!impl->server) {
        impl->serial.reset();
        if (!impl->pointerPortValue.empty())
            reg::deleteValue(kPointerPortKey, impl->pointerPortValue);
        return nullptr;
    }
    auto driver = std::unique_ptr<Driver>(new Driver(std::move(impl)));
    if (usb) driver->scanHotplug();
    return driver;
}

void Driver::unload() {
    if (!impl_ || impl_->unloaded) return;
    impl_->unloaded = true;
    // No new requests, and every request in progress has finished.
    if (impl_->server) impl_->server->stop();
    // Every connected device is stopped before its record goes away.
    if (impl_->serial) impl_->serial->disconnectAll();
    impl_->context->attachSerialLink(nullptr);
    impl_->serial.reset();
    // Event references taken for clients are released, and the watchers let go.
    impl_->context->events().releaseAll();
    impl_->context->watchers().releaseAll();
    // The device map describes the running system only.
    if (!impl_->pointerPortValue.empty())
        reg::deleteValue(kPointerPortKey, impl_->pointerPortValue);
    impl_->server.reset();
    impl_->context.reset();
    impl_->classService.reset();
    KVR_LOG_INFO("unloaded");
}

void Driver::scanHotplug() {
    if (impl_ && !impl_->unloaded && impl_->serial) impl_->serial->scanHotplug();
}

std::string Driver::controlDeviceName() const {
    return std::string(impl_->context ? impl_->context->role().controlDeviceName : "");
}

DriverContext& Driver::context() {
    return *impl_->context;
}

} // namespace kvr::driver
