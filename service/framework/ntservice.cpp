#include "service/framework/ntservice.h"

#include "platform/desktop/command_line.h"
#include "platform/desktop/message_box.h"
#include "platform/registry/registry.h"
#include "platform/service/control_server.h"
#include "platform/service/event_log.h"
#include "platform/service/service_manager.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace kvr {

CNTService* CNTService::m_pThis = nullptr;

namespace {

// The key a registration creates beside the service record (no values).
constexpr const char* kSoftwareKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";

// How long "-s" waits for the stopped service to end.
constexpr std::chrono::seconds kStopWait{30};
// How long "--shutdown" waits for the service's answer: it answers once it has silenced every
// controller (a few exchanges of at most ten attempts each).
constexpr std::chrono::seconds kShutdownWait{25};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    return text;
}

bool argumentIs(const char* arg, const char* option) {
    return arg != nullptr && ::strcasecmp(arg, option) == 0;
}

const char* programName() {
    return program_invocation_short_name;
}

void printUsage(const char* serviceName) {
    const char* program = programName();
    std::printf(
        "Usage: %s [-v | -i | -u | -s]\n"
        "Runs \"%s\", or manages its installation. Without an option the program is the\n"
        "service itself: the service manager starts it (after -i), or systemd runs it in the\n"
        "foreground; started from a terminal it refuses (error 1063).\n"
        "\n"
        "  -v          show the version and whether the service is installed\n"
        "  -i          install the service (started automatically) and start it\n"
        "  -u          remove the installation\n"
        "  -s          stop the running service, then run as the service in its place\n"
        "  --shutdown  the system is going down: send the running service its shutdown\n"
        "              control and wait until it has silenced the controllers (without a\n"
        "              running service, do that work here); the touchsvc-shutdown unit's stop\n"
        "  -h, --help  show this help\n"
        "  --version   show the program's file version\n"
        "Options are taken in any case, one at a time. Where systemd runs the service (its unit\n"
        "is installed), -i, -u and -s say so and change nothing: use systemctl. Trace lines\n"
        "are written only with KVR_TRACE=1, to stderr (the journal under systemd).\n"
        "\n%s",
        program, serviceName,
        cli::exitStatusText({"With 1 the message names the system error: 5 access denied, "
                             "1056 already running,",
                             "1063 not started by the service manager."})
            .c_str());
}

} // namespace

// ServiceEvent ------------------------------------------------------------------------------

void ServiceEvent::Set() {
    std::lock_guard lock(m_lock);
    m_set = true;
    m_changed.notify_all();
}

void ServiceEvent::Reset() {
    std::lock_guard lock(m_lock);
    m_set = false;
}

bool ServiceEvent::IsSet() const {
    std::lock_guard lock(m_lock);
    return m_set;
}

bool ServiceEvent::WaitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [this] { return m_set; });
}

void ServiceEvent::Wait() const {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_set; });
}

// Construction ------------------------------------------------------------------------------

CNTService::CNTService(const char* serviceName) {
    std::strncpy(m_szServiceName, serviceName != nullptr ? serviceName : "", kMaxServiceName);
    m_szServiceName[kMaxServiceName] = '\0';
    m_Status.serviceType = SERVICE_WIN32_OWN_PROCESS;
    m_Status.currentState = svc::kStateStopped;
    m_Status.controlsAccepted = SERVICE_ACCEPT_STOP;
    m_Status.win32ExitCode = 0;
    m_Status.serviceSpecificExitCode = 0;
    m_Status.checkPoint = 0;
    m_Status.waitHint = 0;
    m_pThis = this;
}

CNTService::~CNTService() {
    Trace("CNTService::~CNTService()");
    if (m_pThis == this) m_pThis = nullptr;
    // The stop signal and the event source close with their owners.
}

// Command line ------------------------------------------------------------------------------

bool CNTService::ParseStandardArgs(int argc, char** argv) {
    if (argc <= 1 || argv == nullptr) return false;
    const char* arg = argv[1];

    if (cli::isHelp(arg)) {
        printUsage(m_szServiceName);
        return true;
    }
    if (cli::isVersion(arg)) {
        cli::printVersion(programName());
        return true;
    }
    const bool known = argumentIs(arg, "-v") || argumentIs(arg, "-i") || argumentIs(arg, "-u") ||
                       argumentIs(arg, "-s") || argumentIs(arg, "--shutdown");
    if (!known || argc > 2) {
        // A mistyped option must not start the service.
        const std::string what =
            !known ? "unknown option '" + cli::quoted(arg) + "'"
                   : "one option at a time ('" + cli::quoted(argv[2]) + "' is one too many)";
        cli::usageError(programName(),
                        what + "; options: -v, -i, -u, -s, --shutdown, --help, --version");
        m_bUsageError = true;
        return true;
    }

    if (argumentIs(arg, "--shutdown")) {
        SendShutdown();
        return true;
    }

    // Installed as a systemd unit, the service is systemd's: registering, removing or
    // running it here would make a second one beside it.
    const auto unit = svc::systemdUnitOf(programName());
    const std::string managed =
        unit ? format("It runs as the systemd unit %s (systemctl status %s)\n", unit->c_str(),
                      unit->c_str())
             : std::string();

    if (argumentIs(arg, "-v")) {
        const bool installed = unit || IsServiceRegistered();
        const std::string text =
            format("%s Version %d.%d\n", m_szServiceName, int(m_iMajorVersion),
                   int(m_iMinorVersion)) +
            format("The service is %s installed\n", installed ? "currently" : "not") + managed;
        desktop::messageBox(text, "Query Version", desktop::MB_OK);
        return true;
    }

    if (unit && !argumentIs(arg, "-i")) {
        const char* instead =
            argumentIs(arg, "-u") ? "systemctl disable --now" : "systemctl restart";
        cli::failure(programName(), format("%s is run by systemd as %s: use %s %s", m_szServiceName,
                                           unit->c_str(), instead, unit->c_str()));
        SetExitCode(svc::kErrorAccessDenied);
        return true;
    }

    if (argumentIs(arg, "-i")) {
        if (unit) {
            desktop::messageBox(format("%s is already installed\n", m_szServiceName) + managed,
                                "Had installed", desktop::MB_OK);
        } else if (IsServiceRegistered()) {
            desktop::messageBox(format("%s is already installed\n", m_szServiceName),
                                "Had installed", desktop::MB_OK);
        } else if (RegisterWithManager()) {
            const std::uint32_t started = svc::startService(m_szServiceName);
            Trace("Starting %s: %lu", m_szServiceName, static_cast<unsigned long>(started));
            if (started != svc::kErrorSuccess) {
                cli::failure(programName(),
                             format("%s is installed but could not be started "
                                    "(error %lu)",
                                    m_szServiceName, static_cast<unsigned long>(started)));
                SetExitCode(started);
            }
        } else {
            const std::uint32_t error = svc::lastError();
            desktop::messageBox(format("%s failed to install. Error %d\n", m_szServiceName,
                                       static_cast<int>(error)),
                                "Error", desktop::MB_OK);
            SetExitCode(error);
        }
        return true;
    }

    if (argumentIs(arg, "-u")) {
        if (IsServiceRegistered() && !RemoveFromManager()) {
            const std::uint32_t error = svc::lastError();
            desktop::messageBox(
                format("Could not remove %s. Error %d\n", m_szServiceName, static_cast<int>(error)),
                "Error", desktop::MB_OK);
            SetExitCode(error);
        }
        return true;
    }

    if (argumentIs(arg, "-s")) {
        // A service that is not running or refuses leaves nothing to report here.
        const svc::ControlResult r = svc::controlService(m_szServiceName, svc::kControlStop);
        Trace("Stop control to %s: %lu", m_szServiceName, static_cast<unsigned long>(r.error));
        // Run on as the service only once the stopped one has gone, or this run would find it
        // still there and end.
        if (r.delivered() && !svc::waitForServiceEnd(m_szServiceName, kStopWait))
            Trace("%s has not stopped yet", m_szServiceName);
        return false;
    }
    return false;
}

bool CNTService::IsServiceRegistered() {
    // The service is looked for first: a query about a service that is not there leaves no
    // trace (opening the manager with all access would make its key, and a store).
    if (svc::openService(m_szServiceName) != svc::kErrorSuccess) return false;
    return svc::openServiceManager() == svc::kErrorSuccess;
}

bool CNTService::RegisterWithManager() {
    Trace("Entering CNTService::RegisterWithManager()");
    if (svc::openServiceManager() != svc::kErrorSuccess) return false;

    svc::ServiceConfig config;
    config.name = m_szServiceName;
    config.displayName = m_szServiceName;
    config.serviceType = SERVICE_WIN32_OWN_PROCESS;
    config.startType = svc::kServiceAutoStart;
    config.errorControl = svc::kServiceErrorNormal;
    config.imagePath = svc::ownProgramPath();
    config.objectName = svc::kLocalSystem;
    if (svc::createService(config) != svc::kErrorSuccess) {
        Trace("CreateService failed (%lu)", static_cast<unsigned long>(svc::lastError()));
        return false;
    }

    const std::string key = std::string(kSoftwareKey) + m_szServiceName;
    const reg::Status created = reg::createKey(key);
    if (created != reg::Status::Ok) {
        // Half a registration would make "-i" say "already installed" from now on: take the
        // record back so the next attempt starts clean.
        const std::uint32_t error = created == reg::Status::InvalidArgument
                                        ? svc::kErrorInvalidName
                                        : svc::kErrorAccessDenied;
        svc::deleteService(m_szServiceName);
        svc::setLastError(error);
        Trace("Creating key %s failed (%s)", key.c_str(), reg::statusText(created));
        return false;
    }
    Trace("Leaving CNTService::RegisterWithManager()");
    return true;
}

bool CNTService::RemoveFromManager() {
    Trace("Entering CNTService::RemoveFromManager()");
    if (svc::openServiceManager() != svc::kErrorSuccess) return false;
    if (svc::deleteService(m_szServiceName) != svc::kErrorSuccess) {
        Trace("DeleteService failed (%lu)", static_cast<unsigned long>(svc::lastError()));
        return false;
    }
    Trace("Leaving CNTService::RemoveFromManager()");
    return true;
}

void CNTService::SendShutdown() {
    const svc::ControlResult r =
        svc::controlService(m_szServiceName, svc::kControlShutdown, kShutdownWait);
    Trace("Shutdown control to %s: %lu", m_szServiceName, static_cast<unsigned long>(r.error));
    if (r.delivered()) return;
    if (r.error == svc::kErrorServiceNotActive) {
        // No service runs (stopped by hand, or it failed): the system still goes down, so
        // its shutdown work is done here.
        OnShutdown();
        return;
    }
    const char* why = r.error == svc::kErrorAccessDenied
                          ? "only root or the service's own user may send it"
                      : r.error == svc::kErrorServiceRequestTimeout ? "the service did not answer"
                                                                    : "the service refused it";
    cli::failure(programName(), format("shutdown control to %s: %s (error %lu)", m_szServiceName,
                                       why, static_cast<unsigned long>(r.error)));
    SetExitCode(r.error);
}

// Running as a service ----------------------------------------------------------------------

bool CNTService::StartService() {
    Trace("Calling StartServiceCtrlDispatcher()");
    const std::uint32_t result = svc::startServiceCtrlDispatcher(
        m_szServiceName, [](int argc, char** argv) { CNTService::ServiceMain(argc, argv); });
    if (result != svc::kErrorSuccess) {
        Trace("StartServiceCtrlDispatcher failed (%lu)", static_cast<unsigned long>(result));
        // Said once, plainly: a program that ends at once without a word looks like success.
        const char* why = result == svc::kErrorFailedServiceControllerConnect
                              ? "is not started by the service manager: it runs from its systemd "
                                "unit or after -i, not from a terminal"
                          : result == svc::kErrorServiceAlreadyRunning ? "is already running"
                                                                       : "cannot run";
        cli::failure(programName(), format("%s %s (error %lu)", m_szServiceName, why,
                                           static_cast<unsigned long>(result)));
        SetExitCode(result);
    }
    Trace("Returned from StartServiceCtrlDispatcher()");
    return result == svc::kErrorSuccess;
}

void CNTService::ServiceMain(int argc, char** argv) {
    (void)argc;
    (void)argv;
    CNTService* self = m_pThis;
    if (self == nullptr) return;
    self->Trace("Entering CNTService::ServiceMain()");
    {
        std::lock_guard lock(self->m_statusLock);
        self->m_Status.currentState = svc::kStateStartPending;
        self->m_Status.controlsAccepted =
            SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    }
    self->m_hServiceStatus =
        svc::registerServiceCtrlHandler(self->m_szServiceName, &CNTService::Handler);
    if (self->m_hServiceStatus.load() == nullptr) {
        self->Trace("RegisterServiceCtrlHandler failed (%lu)",
                    static_cast<unsigned long>(svc::lastError()));
        return;
    }

    if (self->Initialize()) {
        // The running flag is set by Initialize before it reports running, so a stop control
        // that comes at once is never undone here.
        {
            std::lock_guard lock(self->m_statusLock);
            self->m_Status.win32ExitCode = 0;
            self->m_Status.checkPoint = 0;
            self->m_Status.waitHint = 0;
        }
        self->Run();
    }
    self->SetStatus(svc::kStateStopped);
    self->Trace("Leaving CNTService::ServiceMain()");
}

bool CNTService::Initialize() {
    Trace("Entering CNTService::Initialize()");
    SetStatus(svc::kStateStartPending);
    svc::setLastError(svc::kErrorSuccess); // only what OnInit leaves counts
    const bool ok = OnInit();
    {
        std::lock_guard lock(m_statusLock);
        m_Status.win32ExitCode = svc::lastError();
        // A failure without a reason would end the program with exit code 0, as a success.
        if (!ok && m_Status.win32ExitCode == svc::kErrorSuccess)
            m_Status.win32ExitCode = svc::kErrorServiceSpecificError;
        m_Status.checkPoint = 0;
        m_Status.waitHint = 0;
    }
    if (!ok) {
        SetStatus(svc::kStateStopped);
        Trace("OnInit() is FALSE");
        return false;
    }
    m_bIsRunning = 1;
    SetStatus(svc::kStateRunning);
    Trace("Leaving CNTService::Initialize()");
    return true;
}

void CNTService::Handler(std::uint32_t opcode) {
    CNTService* self = m_pThis;
    if (self == nullptr) return;
    self->Trace("CNTService::Handler(%lu)", static_cast<unsigned long>(opcode));
    switch (opcode) {
    case svc::kControlStop:
        self->WriteEventLog(EVENTLOG_INFORMATION_TYPE, 107, "Start SetStatus");
        self->SetStatus(svc::kStateStopPending);
        self->WriteEventLog(EVENTLOG_INFORMATION_TYPE, 107, "End SetStatus");
        self->OnStop();
        self->m_bIsRunning = 0;
        self->WriteEventLog(EVENTLOG_INFORMATION_TYPE, 108, "Stoped ", self->m_szServiceName);
        break;
    case svc::kControlPause:
        self->OnPause();
        break;
    case svc::kControlContinue:
        self->OnContinue();
        break;
    case svc::kControlInterrogate:
        self->OnInterrogate();
        break;
    case svc::kControlShutdown:
        self->OnShutdown();
        break;
    default:
        if (opcode >= svc::kFirstUserControl) (void)self->OnUserControl(opcode);
        break;
    }
    self->Trace("Updating status (%lu, %lu)", svc::statusHandleId(self->m_hServiceStatus),
                static_cast<unsigned long>(self->GetStatus().currentState));
    self->ReportStatus();
}

void CNTService::SetStatus(std::uint32_t state) {
    Trace("CNTService::SetStatus(%lu, %lu)", svc::statusHandleId(m_hServiceStatus),
          static_cast<unsigned long>(state));
    std::lock_guard lock(m_statusLock);
    m_Status.currentState = state;
    // Reported under the lock, so two threads' reports never arrive out of order.
    svc::setServiceStatus(m_hServiceStatus, m_Status);
}

void CNTService::ReportStatus() {
    std::lock_guard lock(m_statusLock);
    svc::setServiceStatus(m_hServiceStatus, m_Status);
}

svc::ServiceStatus CNTService::GetStatus() const {
    std::lock_guard lock(m_statusLock);
    return m_Status;
}

int CNTService::ProcessExitCode() const {
    if (m_bUsageError) return cli::kExitUsage;
    // The system error code itself is in the message or the log: only 8 bits would reach the
    // parent, and a code such as 1280 would read as success there.
    return GetStatus().win32ExitCode == 0 ? cli::kExitOk : cli::kExitFailure;
}

void CNTService::SetExitCode(std::uint32_t error) {
    std::lock_guard lock(m_statusLock);
    m_Status.win32ExitCode = error != 0 ? error : svc::kErrorServiceSpecificError;
}

// Event log and trace -----------------------------------------------------------------------

void CNTService::WriteEventLog(std::uint16_t type, std::uint32_t eventId, const char* text1,
                               const char* text2, const char* text3) {
    std::vector<std::string> texts;
    for (const char* t : {text1, text2, text3})
        if (t != nullptr) texts.emplace_back(t);
    std::lock_guard lock(m_eventSourceLock);
    if (!m_hEventSource) m_hEventSource = svc::EventSource::registerSource(m_szServiceName);
    if (!m_hEventSource) return;
    m_hEventSource->report(type, 0, eventId, texts);
}

void CNTService::Trace(const char* fmt, ...) {
    char line[1024];
    const int prefix = std::snprintf(line, sizeof line, "[%s](%lu): ", m_szServiceName,
                                     static_cast<unsigned long>(::gettid()));
    if (prefix < 0 || static_cast<std::size_t>(prefix) >= sizeof line) return;
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line + prefix, sizeof line - static_cast<std::size_t>(prefix), fmt, ap);
    va_end(ap);
    svc::traceLine(m_szServiceName, line);
}

// Default operations ------------------------------------------------------------------------

void CNTService::Run() {
    Trace("Entering CNTService::Run()");
    while (m_bIsRunning && !m_StopSignal.WaitFor(std::chrono::seconds(5))) {
    }
    Trace("Leaving CNTService::Run()");
}

bool CNTService::OnInit() {
    Trace("CNTService::OnInit()");
    return true;
}

void CNTService::OnStop() {
    Trace("CNTService::OnStop()");
    m_StopSignal.Set();
}

void CNTService::OnInterrogate() {
    Trace("CNTService::OnInterrogate()");
}
void CNTService::OnPause() {
    Trace("CNTService::OnPause()");
}
void CNTService::OnContinue() {
    Trace("CNTService::OnContinue()");
}
void CNTService::OnShutdown() {
    Trace("CNTService::OnShutdown()");
}

bool CNTService::OnUserControl(std::uint32_t opcode) {
    Trace("KVRService::OnUserControl(%8.8lXH)", static_cast<unsigned long>(opcode));
    return false;
}

} // namespace kvr
