#include "service/framework/ntservice.h"

#include <cstring>

namespace kvr::svc {
class EventSource {};
class StatusHandle {};
} // namespace kvr::svc

namespace kvr {

CNTService* CNTService::m_pThis = nullptr;

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

CNTService::CNTService(const char* serviceName) {
    std::strncpy(m_szServiceName, serviceName ? serviceName : "", kMaxServiceName);
    m_Status.serviceType = SERVICE_WIN32_OWN_PROCESS;
    m_Status.currentState = svc::kStateStopped;
    m_Status.controlsAccepted = SERVICE_ACCEPT_STOP;
    m_pThis = this;
}
CNTService::~CNTService() {
    if (m_pThis == this) m_pThis = nullptr;
}
void CNTService::Run() {}
bool CNTService::OnInit() { return true; }
void CNTService::OnStop() { m_StopSignal.Set(); }
void CNTService::OnInterrogate() {}
void CNTService::OnPause() {}
void CNTService::OnContinue() {}
void CNTService::OnShutdown() {}
bool CNTService::OnUserControl(std::uint32_t) { return false; }
bool CNTService::ParseStandardArgs(int, char**) { return false; }
bool CNTService::IsServiceRegistered() { return false; }
bool CNTService::RegisterWithManager() { return false; }
bool CNTService::RemoveFromManager() { return false; }
bool CNTService::StartService() { return false; }
void CNTService::SetStatus(std::uint32_t state) {
    std::lock_guard lock(m_statusLock);
    m_Status.currentState = state;
}
bool CNTService::Initialize() { return false; }
void CNTService::WriteEventLog(std::uint16_t, std::uint32_t, const char*, const char*,
                               const char*) {}
void CNTService::Trace(const char*, ...) {}
void CNTService::ServiceMain(int, char**) {}
void CNTService::Handler(std::uint32_t) {}
svc::ServiceStatus CNTService::GetStatus() const {
    std::lock_guard lock(m_statusLock);
    return m_Status;
}
int CNTService::ProcessExitCode() const { return 0; }
void CNTService::ReportStatus() {}

} // namespace kvr
