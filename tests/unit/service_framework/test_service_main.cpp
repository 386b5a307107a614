// The test service as a program: the framework's command line and dispatcher. Its event-log
// entries go where a service's go (syslog, and the file KVR_EVENT_LOG names).

#include "tests/unit/service_framework/test_service.h"

int main(int argc, char** argv) {
    kvr::test::TestService service;
    if (!service.ParseStandardArgs(argc, argv)) service.StartService();
    return service.ProcessExitCode();
}
