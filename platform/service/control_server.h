#pragma once
// The serving side of services: what a service program calls to run as a service.
//
//   startServiceCtrlDispatcher(name, serviceMain)   the dispatcher (StartServiceCtrlDispatcher)
//   registerServiceCtrlHandler(name, handler)        from serviceMain (RegisterServiceCtrlHandler)
//   setServiceStatus(handle, status)                 status reports (SetServiceStatus)
//
// The dispatcher runs in the foreground of the calling thread (the program's main thread)
// until serviceMain, which it runs on a thread of its own, has returned. Meanwhile it listens
// on the control socket $KVR_RUNTIME_DIR/svc/<name> (wire format in service_control.h), hands
// each control to the handler on the calling thread, one after the other, and answers with the
// status record as it stands after the handler returned. It decides, as the Windows service
// manager does, which controls reach the handler:
//   - interrogate (4) always, once a handler is registered;
//   - nothing while the service is stopped (kErrorServiceNotActive) or starting or stopping
//     (kErrorServiceCannotAcceptControl), nor before it registered its handler;
//   - stop (1), pause/continue (2, 3) and shutdown (5) when the accepted controls of its
//     status hold the matching bit, user controls 128 to 255 always; anything else is
//     kErrorInvalidServiceControl;
//   - stop, pause, continue and shutdown only from root or the service's own user, user
//     controls only from those and the members of the socket's group (kErrorAccessDenied
//     otherwise, judged from the peer's credentials); interrogate from anyone who may connect.
// The socket is mode 0660, in the group lumarcon when the system has it (else the service's
// own group): the library in the group members' programs sends the user controls, and the
// unit that stands for the system's shutdown sends the shutdown control as the service's user.
//
// Signals: SIGTERM and SIGINT are the stop control, delivered as soon as the service is
// running. While the file $KVR_RUNTIME_DIR/shutdown exists (a system shutdown under an init
// system that says so with that file) SIGTERM is the shutdown control, followed by the stop
// control so that the program ends. Under systemd the shutdown control comes over the socket
// instead, from the unit ordered after the service (packaging/systemd/touchsvc-shutdown.service),
// since systemd tells a stopping unit nothing about why it stops. The dispatcher blocks SIGTERM
// and SIGINT in the calling thread (threads started later inherit that) and takes them through
// a signalfd; call it before starting other threads.
//
// A program started by hand from a terminal (stdin is a tty) was not started by the service
// manager: the dispatcher fails with kErrorFailedServiceControllerConnect, as on Windows.
// (systemd and startService give stdin /dev/null; `touchsvc </dev/null` runs it by hand.)
// A second instance of a running service fails with kErrorServiceAlreadyRunning.
//
// No call throws; a handler or serviceMain that throws is caught and traced.

#include "platform/service/service_control.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>

namespace kvr::svc {

using ServiceMainFunction = std::function<void(int argc, char** argv)>;
using HandlerFunction = std::function<void(std::uint32_t control)>;

// Opaque: valid from registerServiceCtrlHandler until the dispatcher returns.
class StatusHandle;

// kErrorSuccess once the service has stopped and serviceMain returned; otherwise the error why
// it could not run (also left in lastError()).
std::uint32_t startServiceCtrlDispatcher(std::string_view name, ServiceMainFunction serviceMain);

// Null (lastError() says why) when no dispatcher runs in this process or the name is not the
// dispatcher's (compared without case).
StatusHandle* registerServiceCtrlHandler(std::string_view name, HandlerFunction handler);

// Stores the status the socket answers with; false for a handle that is not valid.
bool setServiceStatus(StatusHandle* handle, const ServiceStatus& status);

// A number to show a handle by in trace lines.
unsigned long statusHandleId(const StatusHandle* handle);

// Waits until no process serves the service `name` any more (its dispatcher has returned);
// false when one still does after `timeout`.
bool waitForServiceEnd(std::string_view name, std::chrono::milliseconds timeout);

// The flag file that says a system shutdown is under way, and the check itself (the file
// only: nothing here asks another service, which may itself be stopping).
std::filesystem::path shutdownFlagPath();
bool systemShuttingDown();

} // namespace kvr::svc
