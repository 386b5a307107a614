// CNTService: the command line and its registry effects, the dispatcher's controls and
// signals, and the stop control's event-log entries. In-process cases run the dispatcher on a
// thread of the test; the others run the small test service program.

#include "platform/common/unique_fd.h"
#include "platform/registry/registry.h"
#include "platform/service/control_server.h"
#include "platform/service/event_log.h"
#include "platform/service/service_manager.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"
#include "tests/unit/service_framework/test_service.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kvr::test {
namespace {

using namespace std::chrono_literals;

const std::filesystem::path kProgram = KVR_TEST_SERVICE;
const std::string kRecordKey = std::string(svc::kServicesKey) + "\\" + kTestServiceName;

bool serviceIs(std::uint32_t state) {
    const svc::ControlResult r = svc::controlService(kTestServiceName, svc::kControlInterrogate);
    return r.delivered() && r.status.currentState == state;
}

int exitCodeOf(const std::optional<int>& status) {
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// Lines of `text` that start with `prefix`, in order.
std::vector<std::string> linesWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
        at = end + 1;
    }
    return out;
}

const std::vector<std::string> kStopEntries = {
    "LumarconTouch Service: event 107 information: Start SetStatus",
    "LumarconTouch Service: event 107 information: End SetStatus",
    "LumarconTouch Service: event 108 information: Stoped LumarconTouch Service",
};

// The event-log entries programs started from now on write, read back from KVR_EVENT_LOG.
class EventLogFile {
public:
    EventLogFile() : m_path(makeTempDir("events") / "events.log") {
        ::setenv("KVR_EVENT_LOG", m_path.c_str(), 1);
    }
    ~EventLogFile() { ::unsetenv("KVR_EVENT_LOG"); }
    std::vector<std::string> lines() const {
        std::ifstream in(m_path);
        std::stringstream text;
        text << in.rdbuf();
        return linesWith(text.str(), "");
    }

private:
    std::filesystem::path m_path;
};

// In-process: the test service's dispatcher on a thread, the event log and trace captured.
class InProcess : public ::testing::Test {
protected:
    void SetUp() override {
        // The dispatcher refuses a console run; under a terminal, give it what systemd gives.
        if (::isatty(STDIN_FILENO)) {
            const int fd = ::open("/dev/null", O_RDONLY);
            ::dup2(fd, STDIN_FILENO);
            ::close(fd);
        }
        svc::setEventLogSink([this](const svc::EventLogEntry& e) {
            std::lock_guard lock(m_lock);
            m_events.push_back(e);
        });
        svc::setTraceSink([this](const std::string&, const std::string& line) {
            std::lock_guard lock(m_lock);
            m_trace += line + "\n";
        });
    }
    void TearDown() override {
        if (m_dispatcher.joinable()) {
            svc::controlService(kTestServiceName, svc::kControlStop);
            m_dispatcher.join();
        }
        m_service.reset();
        svc::setEventLogSink({});
        svc::setTraceSink({});
    }

    // The service lives in the fixture, so it outlives its dispatcher whatever the test did.
    TestService& start(bool failInit = false) {
        m_service = std::make_unique<TestService>(failInit);
        m_dispatcher = std::thread([this] { m_started = m_service->StartService(); });
        return *m_service;
    }
    std::string trace() {
        std::lock_guard lock(m_lock);
        return m_trace;
    }

    std::mutex m_lock;
    std::vector<svc::EventLogEntry> m_events;
    std::string m_trace;
    std::unique_ptr<TestService> m_service;
    std::thread m_dispatcher;
    std::atomic<bool> m_started{false};
};

TEST_F(InProcess, StopControlWritesThreeEntriesInOrderAndStops) {
    TestService& service = start();
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));
    const svc::ServiceStatus running = service.GetStatus();
    EXPECT_EQ(running.controlsAccepted, 7u);
    EXPECT_EQ(running.serviceType, 0x10u);

    const svc::ControlResult r = svc::controlService(kTestServiceName, svc::kControlStop);
    ASSERT_TRUE(r.delivered());
    EXPECT_TRUE(r.status.currentState == svc::kStateStopPending ||
                r.status.currentState == svc::kStateStopped);
    m_dispatcher.join();
    EXPECT_TRUE(m_started);

    ASSERT_EQ(m_events.size(), 3u);
    const struct {
        std::uint32_t id;
        std::vector<std::string> texts;
    } want[] = {{107, {"Start SetStatus"}},
                {107, {"End SetStatus"}},
                {108, {"Stoped ", "LumarconTouch Service"}}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(m_events[i].source, kTestServiceName);
        EXPECT_EQ(m_events[i].type, svc::kEventInformation);
        EXPECT_EQ(m_events[i].category, 0);
        EXPECT_EQ(m_events[i].eventId, want[i].id);
        EXPECT_EQ(m_events[i].texts, want[i].texts);
    }
    EXPECT_EQ(service.GetStatus().currentState, svc::kStateStopped);
    EXPECT_EQ(service.ProcessExitCode(), 0);
    EXPECT_FALSE(serviceIs(svc::kStateStopped)); // nobody answers any more
}

TEST_F(InProcess, EveryAcceptedControlReportsStatusAndOthersAreRefused) {
    TestService& service = start();
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));

    struct Case {
        std::uint32_t code;
        std::uint32_t error;
        const char* trace; // what the handler left, when it got the control
    };
    const Case cases[] = {
        {200, svc::kErrorSuccess, "KVRService::OnUserControl(000000C8H)"}, // not handled
        {kHandledUserControl, svc::kErrorSuccess, "CNTService::Handler(150)"},
        {svc::kControlPause, svc::kErrorSuccess, "CNTService::OnPause()"},
        {svc::kControlContinue, svc::kErrorSuccess, "CNTService::OnContinue()"},
        {svc::kControlInterrogate, svc::kErrorSuccess, "CNTService::OnInterrogate()"},
        {svc::kControlShutdown, svc::kErrorSuccess, "CNTService::OnShutdown()"},
        {100, svc::kErrorInvalidServiceControl, nullptr},
        {256, svc::kErrorInvalidServiceControl, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string before = trace();
        const svc::ControlResult r = svc::controlService(kTestServiceName, c.code);
        EXPECT_EQ(r.error, c.error);
        // Pause and continue are passed on; the state stays as it is.
        EXPECT_EQ(r.status.currentState, svc::kStateRunning);
        EXPECT_EQ(r.status.controlsAccepted, 7u);
        const std::string added = trace().substr(before.size());
        if (c.trace != nullptr) {
            EXPECT_NE(added.find(c.trace), std::string::npos) << added;
            EXPECT_NE(added.find("Updating status ("), std::string::npos) << added;
        } else {
            EXPECT_EQ(added.find("CNTService::Handler"), std::string::npos) << added;
        }
    }
    EXPECT_EQ(service.m_handled, 1);
    EXPECT_TRUE(m_events.empty());
}

TEST_F(InProcess, ASilentConnectionHoldsUpNoControl) {
    start();
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));
    UniqueFd silent(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = svc::controlSocketPath(kTestServiceName)->string();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::connect(silent.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    // Sends nothing; a control sent meanwhile is answered at once.
    const svc::ControlResult r =
        svc::controlService(kTestServiceName, svc::kControlInterrogate, 1000ms);
    EXPECT_TRUE(r.delivered());
    EXPECT_EQ(r.status.currentState, svc::kStateRunning);
}

TEST_F(InProcess, FailedInitStopsAtOnceWithAFailureExitCode) {
    TestService& service = start(/*failInit=*/true);
    m_dispatcher.join();
    EXPECT_TRUE(m_started);
    const svc::ServiceStatus s = service.GetStatus();
    EXPECT_EQ(s.currentState, svc::kStateStopped);
    EXPECT_EQ(s.win32ExitCode, svc::kErrorServiceSpecificError);
    EXPECT_NE(service.ProcessExitCode(), 0);
    EXPECT_NE(trace().find("OnInit() is FALSE"), std::string::npos);
    EXPECT_EQ(trace().find("Entering CNTService::Run()"), std::string::npos);
}

TEST_F(InProcess, WithoutDispatcherTheEntryPointReturnsAtOnce) {
    TestService service;
    CNTService::ServiceMain(0, nullptr);
    EXPECT_NE(trace().find("RegisterServiceCtrlHandler failed (1063)"), std::string::npos);
    EXPECT_EQ(trace().find("CNTService::OnInit()"), std::string::npos);
}

// The command line, run as a person runs it, with its registry effects.
// Stops a service that "-i" started, even when the test ends early.
struct StopServiceAtEnd {
    ~StopServiceAtEnd() {
        svc::controlService(kTestServiceName, svc::kControlStop);
        svc::waitForServiceEnd(kTestServiceName, 20s);
    }
};

TEST(CommandLine, VersionInstallTwiceRemove) {
    StopServiceAtEnd stopAtEnd;
    const std::string software = std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\") + kTestServiceName;

    RunResult v = runProgram(kProgram, {"-V"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_NE(v.err.find("Query Version: LumarconTouch Service Version 1.0\n"
                         "The service is not installed\n"),
              std::string::npos)
        << v.err;

    // -i registers and starts the service.
    RunResult i1 = runProgram(kProgram, {"-i"});
    EXPECT_EQ(i1.exitCode, 0);
    EXPECT_EQ(i1.err.find("Error:"), std::string::npos) << i1.err;
    std::uint32_t dword = 0;
    EXPECT_EQ(reg::queryDword(kRecordKey, "Type", dword), reg::Status::Ok);
    EXPECT_EQ(dword, 0x10u);
    EXPECT_EQ(reg::queryDword(kRecordKey, "Start", dword), reg::Status::Ok);
    EXPECT_EQ(dword, 2u);
    EXPECT_EQ(reg::queryDword(kRecordKey, "ErrorControl", dword), reg::Status::Ok);
    EXPECT_EQ(dword, 1u);
    std::string sz;
    EXPECT_EQ(reg::querySz(kRecordKey, "ImagePath", sz), reg::Status::Ok);
    EXPECT_EQ(std::filesystem::path(sz), std::filesystem::canonical(kProgram));
    EXPECT_EQ(reg::querySz(kRecordKey, "ObjectName", sz), reg::Status::Ok);
    EXPECT_EQ(sz, "LocalSystem");
    EXPECT_EQ(reg::querySz(kRecordKey, "DisplayName", sz), reg::Status::Ok);
    EXPECT_EQ(sz, kTestServiceName);
    EXPECT_EQ(reg::keyExists(software), reg::Status::Ok);
    EXPECT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));

    v = runProgram(kProgram, {"-v"});
    EXPECT_NE(v.err.find("Query Version: LumarconTouch Service Version 1.0\n"
                         "The service is currently installed\n"),
              std::string::npos)
        << v.err;

    // A second -i reports and starts nothing.
    RunResult i2 = runProgram(kProgram, {"-I"});
    EXPECT_EQ(i2.exitCode, 0);
    EXPECT_NE(i2.err.find("Had installed: LumarconTouch Service is already installed\n"),
              std::string::npos)
        << i2.err;
    EXPECT_EQ(i2.err.find("Starting"), std::string::npos) << i2.err;

    ASSERT_TRUE(svc::controlService(kTestServiceName, svc::kControlStop).delivered());
    EXPECT_TRUE(svc::waitForServiceEnd(kTestServiceName, 20s));

    RunResult u = runProgram(kProgram, {"-u"});
    EXPECT_EQ(u.exitCode, 0);
    EXPECT_EQ(u.err.find("Error:"), std::string::npos) << u.err;
    EXPECT_EQ(reg::keyExists(kRecordKey), reg::Status::NotFound);
    EXPECT_EQ(reg::keyExists(software), reg::Status::Ok); // left as it was

    // -u on a service that is not registered changes nothing and says nothing.
    u = runProgram(kProgram, {"-U"});
    EXPECT_EQ(u.exitCode, 0);
    EXPECT_EQ(u.err.find("Error:"), std::string::npos) << u.err;
}

TEST(CommandLine, InstallFailureShowsTheErrorCode) {
    // A store that cannot be opened: its folder is a file.
    const auto blocked = makeTempDir("blocked") / "file";
    std::ofstream(blocked) << "x";
    const std::string saved = std::getenv("KVR_STATE_DIR");
    ::setenv("KVR_STATE_DIR", blocked.c_str(), 1);
    const RunResult i = runProgram(kProgram, {"-i"});
    ::setenv("KVR_STATE_DIR", saved.c_str(), 1);
    EXPECT_NE(i.err.find("Error: LumarconTouch Service failed to install. Error 5\n"),
              std::string::npos)
        << i.err;
    EXPECT_EQ(reg::keyExists(kRecordKey), reg::Status::NotFound);
}

TEST(Signals, SigtermIsTheStopControl) {
    EventLogFile events;
    ChildProcess service(kProgram, {});
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));
    ASSERT_TRUE(service.signal(SIGTERM));
    EXPECT_EQ(exitCodeOf(service.wait()), 0);
    EXPECT_EQ(events.lines(), kStopEntries);
    EXPECT_EQ(service.stderrText().find("OnShutdown"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(*svc::controlSocketPath(kTestServiceName)));
}

TEST(Signals, SigtermDuringSystemShutdownIsShutdownThenStop) {
    EventLogFile events;
    ChildProcess service(kProgram, {});
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));
    std::ofstream(svc::shutdownFlagPath()) << "";
    ASSERT_TRUE(service.signal(SIGTERM));
    EXPECT_EQ(exitCodeOf(service.wait()), 0);
    const std::string err = service.stderrText();
    const auto shutdown = err.find("CNTService::OnShutdown()");
    const auto stop = err.find("CNTService::OnStop()");
    ASSERT_NE(shutdown, std::string::npos) << err;
    ASSERT_NE(stop, std::string::npos) << err;
    EXPECT_LT(shutdown, stop);
    EXPECT_EQ(events.lines(), kStopEntries);
}

TEST(Signals, DashSStopsTheRunningServiceAndRunsInItsPlace) {
    EventLogFile events;
    ChildProcess first(kProgram, {});
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));

    // A second plain start while it runs ends at once.
    const RunResult again = runProgram(kProgram, {});
    EXPECT_NE(again.err.find("StartServiceCtrlDispatcher failed (1056)"), std::string::npos)
        << again.err;

    ChildProcess second(kProgram, {"-S"});
    EXPECT_EQ(exitCodeOf(first.wait()), 0);
    EXPECT_EQ(events.lines(), kStopEntries);
    ASSERT_TRUE(waitUntil([] { return serviceIs(svc::kStateRunning); }));
    EXPECT_TRUE(second.running());
    EXPECT_EQ(exitCodeOf(second.stop()), 0);
}

} // namespace
} // namespace kvr::test
