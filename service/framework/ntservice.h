#pragma once
// CNTService: the generic part of a service program. It handles the command line (version,
// register, remove, stop), registration with the service manager, the service entry point and
// control handler, status reporting, event-log entries and trace output. A service derives
// from it, fills in the virtual operations and constructs exactly one object per process.
//
// Program entry, as a service program writes it:
//
//   int main(int argc, char** argv) {
//       KVRService service("LumarconTouch Service");
//       if (!service.ParseStandardArgs(argc, argv)) service.StartService();
//       return service.ProcessExitCode();
//   }
//
// Threads: StartService runs the control handler on the calling (main) thread and ServiceMain,
// then Run, on a second thread. They share the status record (under m_statusLock) and the
// running flag (an atomic, read by Run on every turn of its loop).

#include "platform/service/service_control.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace kvr::svc {
class EventSource;
class StatusHandle;
} // namespace kvr::svc

namespace kvr {

// Event-log entry types (Windows' EVENTLOG_*_TYPE).
inline constexpr std::uint16_t EVENTLOG_ERROR_TYPE = 0x0001;
inline constexpr std::uint16_t EVENTLOG_WARNING_TYPE = 0x0002;
inline constexpr std::uint16_t EVENTLOG_INFORMATION_TYPE = 0x0004;

// Service type: a service in its own process.
inline constexpr std::uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
// Accepted-controls bits of the status record.
inline constexpr std::uint32_t SERVICE_ACCEPT_STOP = 0x1;
inline constexpr std::uint32_t SERVICE_ACCEPT_PAUSE_CONTINUE = 0x2;
inline constexpr std::uint32_t SERVICE_ACCEPT_SHUTDOWN = 0x4;

// A manual-reset event for threads of one process (the framework's stop event).
class ServiceEvent {
public:
    void Set();
    void Reset();
    [[nodiscard]] bool IsSet() const;
    // True when the event is set within `timeout` (steady clock).
    bool WaitFor(std::chrono::milliseconds timeout) const;
    void Wait() const;

private:
    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    bool m_set = false;
};

class CNTService {
public:
    // The longest service name kept (longer names are cut).
    static constexpr std::size_t kMaxServiceName = 63;

    explicit CNTService(const char* serviceName);
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    // Virtual operations, in slot order.
    virtual ~CNTService();                            // 0
    virtual void Run();                               // 1
    virtual bool OnInit();                            // 2
    virtual void OnStop();                            // 3
    virtual void OnInterrogate();                     // 4
    virtual void OnPause();                           // 5
    virtual void OnContinue();                        // 6
    virtual void OnShutdown();                        // 7
    virtual bool OnUserControl(std::uint32_t opcode); // 8

    // Command line: acts on "-v", "-i", "-u" (first argument, any case) and "--shutdown" and
    // returns true when the program is to end; "-s" sends the stop control and returns false,
    // as does no argument (the program then runs as the service). "--help"/"-h" and
    // "--version" print and end; anything else, or a second argument, is a usage error and
    // ends. Where systemd runs the service, "-i", "-u" and "-s" say so and end.
    bool ParseStandardArgs(int argc, char** argv);
    bool IsServiceRegistered();
    bool RegisterWithManager();
    bool RemoveFromManager();
    // The system is going down: the shutdown control to the running service, answered once
    // its OnShutdown has run; without a running service, OnShutdown here.
    void SendShutdown();

    // The dispatcher: runs the service until it has stopped. False when the program was not
    // started by the service manager (a console run) or the service is running already.
    bool StartService();

    void SetStatus(std::uint32_t state);
    bool Initialize();
    // Writes one event-log entry; null texts are not counted.
    void WriteEventLog(std::uint16_t type, std::uint32_t eventId, const char* text1 = nullptr,
                       const char* text2 = nullptr, const char* text3 = nullptr);
    // "[<service name>](<thread id>): " + text, to stderr and syslog debug.
    void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The entry point and control handler the system calls without an object.
    static void ServiceMain(int argc, char** argv);
    static void Handler(std::uint32_t opcode);

    // A copy of the status record, taken under its lock.
    [[nodiscard]] svc::ServiceStatus GetStatus() const;
    [[nodiscard]] const char* ServiceName() const { return m_szServiceName; }
    // The process exit code: 0 done, 1 failed (the status record's exit code is not 0: a
    // failed action of the command line, a dispatcher that could not run, a failed start),
    // 2 usage error.
    [[nodiscard]] int ProcessExitCode() const;
    // Records a failure of the command line or the dispatcher in the status record.
    void SetExitCode(std::uint32_t error);

    // The one service object of the process (null when there is none).
    static CNTService* m_pThis;

protected:
    char m_szServiceName[kMaxServiceName + 1] = {};
    std::int32_t m_iMajorVersion = 1;
    std::int32_t m_iMinorVersion = 0;
    svc::ServiceStatus m_Status; // guarded by m_statusLock
    mutable std::mutex m_statusLock;
    // From the control handler registration (set on the service thread, read by the handler).
    std::atomic<svc::StatusHandle*> m_hServiceStatus{nullptr};
    std::atomic<std::uint32_t> m_bIsRunning{0};
    std::unique_ptr<svc::EventSource> m_hEventSource; // null until the first entry
    std::mutex m_eventSourceLock;
    ServiceEvent m_StopSignal;  // signalled by the default OnStop; waited on by the default Run
    bool m_bUsageError = false; // the command line was not understood

private:
    void ReportStatus(); // passes the status record to the service manager
};

} // namespace kvr
