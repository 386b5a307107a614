// touchsvc: the touch service program. Without arguments (or after "-s") it is the service's
// dispatcher: started by the service manager, or run in the foreground by systemd, it runs the
// service until it stops. "-v", "-i" and "-u" report, register or remove the service and end.

#include "platform/common/log.h"
#include "platform/common/run_as.h"
#include "platform/desktop/command_line.h"
#include "service/touch/kvr_service.h"

int main(int argc, char** argv) {
    kvr::touchsvc::KVRService service(kvr::touchsvc::kServiceName);
    if (service.ParseStandardArgs(argc, argv)) return service.ProcessExitCode();
    // Running as the service: what it logs goes to syslog too, unless stderr is the journal.
    kvr::log::setSyslog("touchsvc");
    if (const std::string refusal = kvr::paths::rootRunRefusal("touchsvc", "touchsvc");
        !refusal.empty())
        return kvr::cli::failure("touchsvc", refusal);
    service.StartService();
    return service.ProcessExitCode();
}
