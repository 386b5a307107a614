#pragma once
// The service manager: registration records of services and starting them.
//
// A service is registered when the registry store holds its record, the key
//   HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\<name>
// with the values Windows keeps there:
//   Type          DWORD  0x10 (own process)
//   Start         DWORD  2 (automatic)
//   ErrorControl  DWORD  1 (normal)
//   ImagePath     SZ     the service program's path
//   ObjectName    SZ     "LocalSystem"
//   DisplayName   SZ     the display name
// Service names compare without regard to case (as the store's key names do). Starting a
// service spawns its program detached, with no arguments: the program then runs as the
// service (its dispatcher, control_server.h) and becomes reachable through its control socket
// (service_control.h), which is also how controls and status queries reach it.
//
// Every call returns a Windows error code (kErrorSuccess = 0 on success) and records it as
// the calling thread's last error (lastError()). No call throws.

#include "platform/service/service_control.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvr::svc {

inline constexpr std::uint32_t kServiceWin32OwnProcess = 0x10;
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceErrorNormal = 1;
inline constexpr const char* kLocalSystem = "LocalSystem";

// The key all service records live under.
inline constexpr const char* kServicesKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";

// More Windows error codes the manager reports (the rest are in service_control.h).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr std::uint32_t kErrorServiceExists = 1073;
inline constexpr std::uint32_t kErrorServiceSpecificError = 1066;
inline constexpr std::uint32_t kErrorServiceNotInExe = 1083;

struct ServiceConfig {
    std::string name;
    std::string displayName;
    std::uint32_t serviceType = kServiceWin32OwnProcess;
    std::uint32_t startType = kServiceAutoStart;
    std::uint32_t errorControl = kServiceErrorNormal;
    std::string imagePath;
    std::string objectName = kLocalSystem;
};

// The thread's last error, as the calls below and the dispatcher leave it (GetLastError);
// a service's OnInit may set it to say why it failed.
std::uint32_t lastError();
void setLastError(std::uint32_t error);

// The record's key path; empty for a name that cannot name a service (empty, longer than 256
// characters, or holding '\' or '/').
std::string serviceKeyPath(std::string_view name);

// Opening the manager: the store must be readable and writable (kErrorAccessDenied).
std::uint32_t openServiceManager();
// kErrorSuccess when the service is registered, kErrorServiceDoesNotExist when not.
std::uint32_t openService(std::string_view name);
// Writes a new record; kErrorServiceExists when there is one, kErrorInvalidName,
// kErrorInvalidParameter for a record without program path, kErrorAccessDenied.
std::uint32_t createService(const ServiceConfig& config);
std::uint32_t queryServiceConfig(std::string_view name, ServiceConfig& out);
// Removes the record (with its subkeys, such as a service's Status key).
std::uint32_t deleteService(std::string_view name);
// Spawns the registered program detached. kErrorServiceAlreadyRunning when the service answers
// on its control socket; kErrorFileNotFound when its program cannot be started. Does not wait
// for the service to come up: it is reachable once its control socket answers.
std::uint32_t startService(std::string_view name);
// The running service's status (an interrogate control); kErrorServiceNotActive when it is
// not running, and then `out` says stopped.
std::uint32_t queryServiceStatus(std::string_view name, ServiceStatus& out);

// The calling program's own path (the service program a registration names).
std::string ownProgramPath();

// On a machine booted with systemd where the unit "<program>.service" is installed (the
// package's units are named after their programs), that unit's name: systemd, not this
// manager, then runs the service. Nothing otherwise.
std::optional<std::string> systemdUnitOf(std::string_view program);

} // namespace kvr::svc
