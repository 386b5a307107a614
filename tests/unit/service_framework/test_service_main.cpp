// The test service as a program: the framework's command line and dispatcher, with the event
// log shown on stdout ("event-log: <line>") since syslog cannot be read back.

#include "platform/service/event_log.h"
#include "platform/service/service_manager.h"
#include "tests/unit/service_framework/test_service.h"

#include <cstdio>

int main(int argc, char** argv) {
    kvr::svc::setEventLogSink([](const kvr::svc::EventLogEntry& entry) {
        std::printf("event-log: %s\n", kvr::svc::formatEventLine(entry).c_str());
        std::fflush(stdout);
    });
    kvr::test::TestService service;
    if (!service.ParseStandardArgs(argc, argv)) service.StartService();
    return service.ProcessExitCode();
}
