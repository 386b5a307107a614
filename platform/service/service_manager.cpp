#include "platform/service/service_manager.h"

#include "platform/common/log.h"
#include "platform/desktop/spawn.h"
#include "platform/registry/registry.h"

#include <filesystem>
#include <system_error>

namespace kvr::svc {
namespace {

thread_local std::uint32_t t_lastError = kErrorSuccess;

std::uint32_t done(std::uint32_t error) {
    t_lastError = error;
    return error;
}

// A store failure as the manager reports it.
std::uint32_t fromStore(reg::Status status) {
    switch (status) {
    case reg::Status::Ok:
        return kErrorSuccess;
    case reg::Status::NotFound:
        return kErrorServiceDoesNotExist;
    case reg::Status::InvalidArgument:
        return kErrorInvalidName;
    case reg::Status::TypeMismatch:
    case reg::Status::AccessDenied:
        break;
    }
    return kErrorAccessDenied;
}

} // namespace

std::uint32_t lastError() {
    return t_lastError;
}
void setLastError(std::uint32_t error) {
    t_lastError = error;
}

std::string serviceKeyPath(std::string_view name) {
    if (name.empty() || name.size() > 255 || name.find_first_of("\\/") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos)
        return {};
    std::string path = kServicesKey;
    path += '\\';
    path += name;
    return path;
}

std::uint32_t openServiceManager() {
    // The manager is usable when its key can be made (or is there): that needs a writable store.
    return done(fromStore(reg::createKey(kServicesKey)));
}

std::uint32_t openService(std::string_view name) {
    const std::string key = serviceKeyPath(name);
    if (key.empty()) return done(kErrorInvalidName);
    return done(fromStore(reg::keyExists(key)));
}

std::uint32_t createService(const ServiceConfig& config) {
    const std::string key = serviceKeyPath(config.name);
    if (key.empty()) return done(kErrorInvalidName);
    if (config.imagePath.empty()) return done(kErrorInvalidParameter);
    const reg::Status exists = reg::keyExists(key);
    if (exists == reg::Status::Ok) return done(kErrorServiceExists);
    if (exists != reg::Status::NotFound) return done(fromStore(exists));

    reg::Status s = reg::createKey(key);
    const std::string& display = config.displayName.empty() ? config.name : config.displayName;
    if (s == reg::Status::Ok) s = reg::setDword(key, "Type", config.serviceType);
    if (s == reg::Status::Ok) s = reg::setDword(key, "Start", config.startType);
    if (s == reg::Status::Ok) s = reg::setDword(key, "ErrorControl", config.errorControl);
    if (s == reg::Status::Ok) s = reg::setSz(key, "ImagePath", config.imagePath);
    if (s == reg::Status::Ok) s = reg::setSz(key, "ObjectName", config.objectName);
    if (s == reg::Status::Ok) s = reg::setSz(key, "DisplayName", display);
    if (s != reg::Status::Ok) {
        // A half-written record would make the service look registered: take it away again.
        reg::deleteKey(key);
        KVR_LOG_WARN("service manager: cannot write the record of %s: %s", config.name.c_str(),
                     reg::statusText(s));
        return done(s == reg::Status::InvalidArgument ? kErrorInvalidParameter
                                                      : kErrorAccessDenied);
    }
    return done(kErrorSuccess);
}

std::uint32_t queryServiceConfig(std::string_view name, ServiceConfig& out) {
    const std::string key = serviceKeyPath(name);
    if (key.empty()) return done(kErrorInvalidName);
    const reg::Status exists = reg::keyExists(key);
    if (exists != reg::Status::Ok) return done(fromStore(exists));
    ServiceConfig c;
    // The key's own spelling is the service's name.
    std::string canonical;
    if (reg::canonicalPath(key, canonical) == reg::Status::Ok) {
        c.name = canonical.substr(canonical.rfind('\\') + 1);
    } else {
        c.name = std::string(name);
    }
    // Values a record lacks keep the defaults (a record written by hand may be partial).
    reg::queryDword(key, "Type", c.serviceType);
    reg::queryDword(key, "Start", c.startType);
    reg::queryDword(key, "ErrorControl", c.errorControl);
    reg::querySz(key, "ImagePath", c.imagePath);
    if (reg::querySz(key, "ObjectName", c.objectName) != reg::Status::Ok) c.objectName.clear();
    if (reg::querySz(key, "DisplayName", c.displayName) != reg::Status::Ok) c.displayName = c.name;
    out = std::move(c);
    return done(kErrorSuccess);
}

std::uint32_t deleteService(std::string_view name) {
    const std::string key = serviceKeyPath(name);
    if (key.empty()) return done(kErrorInvalidName);
    const reg::Status exists = reg::keyExists(key);
    if (exists != reg::Status::Ok) return done(fromStore(exists));
    return done(fromStore(reg::deleteKey(key)));
}

std::uint32_t startService(std::string_view name) {
    ServiceConfig config;
    if (const std::uint32_t e = queryServiceConfig(name, config); e != kErrorSuccess) return e;
    if (controlService(config.name, kControlInterrogate).delivered())
        return done(kErrorServiceAlreadyRunning);
    if (config.imagePath.empty()) return done(kErrorFileNotFound);
    desktop::reapDetachedChildren();
    const auto pid = desktop::startDetached(config.imagePath);
    if (!pid) {
        KVR_LOG_WARN("service manager: cannot start %s (%s)", config.name.c_str(),
                     config.imagePath.c_str());
        return done(kErrorFileNotFound);
    }
    KVR_LOG_DEBUG("service manager: started %s as pid %d", config.name.c_str(), int(*pid));
    return done(kErrorSuccess);
}

std::uint32_t queryServiceStatus(std::string_view name, ServiceStatus& out) {
    const ControlResult r = controlService(name, kControlInterrogate);
    if (r.delivered() || r.error == kErrorServiceCannotAcceptControl) {
        out = r.status;
        return done(kErrorSuccess);
    }
    out = ServiceStatus{};
    out.serviceType = kServiceWin32OwnProcess;
    out.currentState = kStateStopped;
    return done(r.error);
}

std::string ownProgramPath() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

std::optional<std::string> systemdUnitOf(std::string_view program) {
    if (program.empty() || program.find('/') != std::string_view::npos) return std::nullopt;
    std::error_code ec;
    if (!std::filesystem::is_directory("/run/systemd/system", ec)) return std::nullopt;
    const std::string unit = std::string(program) + ".service";
    // The unit search path of the system manager, administrator's folders first.
    for (const char* dir :
         {"/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system",
          "/usr/lib/systemd/system", "/lib/systemd/system"}) {
        if (std::filesystem::exists(std::filesystem::path(dir) / unit, ec)) return unit;
    }
    return std::nullopt;
}

} // namespace kvr::svc
