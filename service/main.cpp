// touchsvc: the touch service program. Without arguments (or after "-s") it is the service's
// dispatcher: started by the service manager, or run in the foreground by systemd, it runs the
// service until it stops. "-v", "-i" and "-u" report, register or remove the service and end.

#include "service/touch/kvr_service.h"

int main(int argc, char** argv) {
    kvr::touchsvc::KVRService service(kvr::touchsvc::kServiceName);
    if (!service.ParseStandardArgs(argc, argv)) service.StartService();
    return service.ProcessExitCode();
}
