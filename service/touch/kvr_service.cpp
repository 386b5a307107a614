#include "service/touch/kvr_service.h"

#include "platform/common/paths.h"
#include "platform/registry/registry.h"
#include "platform/sound/sound.h"
#include "service/touch/controller_link.h"
#include "service/touch/library_access.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace kvr::touchsvc {

namespace {

// Where the drivers list the present controllers.
constexpr const char* kControllerKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Kvr";
constexpr const char* kServicesKey = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services";

// Windows error codes for the store's failures, as the status-key trace reports them.
std::uint32_t errorCode(reg::Status status) {
    switch (status) {
    case reg::Status::Ok:
        return 0;
    case reg::Status::NotFound:
        return 2; // ERROR_FILE_NOT_FOUND
    case reg::Status::AccessDenied:
        return 5; // ERROR_ACCESS_DENIED
    case reg::Status::InvalidArgument:
        return 87; // ERROR_INVALID_PARAMETER
    case reg::Status::TypeMismatch:
        return 13; // ERROR_INVALID_DATA
    }
    return 31; // ERROR_GEN_FAILURE
}

std::filesystem::path programFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

// The controllers of the list that name a unit, in list order.
std::vector<Unit> listUnits() {
    std::vector<Unit> units;
    for (const auto& name : listControllers())
        if (auto unit = parseControllerName(name)) units.push_back(*unit);
    return units;
}

} // namespace

std::optional<std::filesystem::path> findSoundFile(const std::string& name) {
    std::vector<std::filesystem::path> folders;
    std::error_code ec;
    folders.push_back(std::filesystem::current_path(ec));
    folders.push_back(paths::stateDir());
    if (auto exeDir = programFolder(); !exeDir.empty()) {
        folders.push_back(exeDir);
        folders.push_back(exeDir.parent_path() / "share" / "lumarcon");
    }
    for (const auto& folder : folders) {
        if (folder.empty()) continue;
        const auto candidate = folder / name;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate;
    }
    return std::nullopt;
}

KVRService::KVRService(const char* serviceName)
    : CNTService(serviceName), m_accessTimer([this] { onAccessTimeOut(); }) {}

KVRService::~KVRService() {
    // Run joins both threads on its way out; this covers a service object that is destroyed
    // without Run having returned (start failures, tests).
    if (m_events) m_events->stop.set();
    m_accessTimer.stop();
    if (m_watcherThread.joinable()) m_watcherThread.join();
}

TouchSettings KVRService::settings() const {
    return {m_soundType.load(), m_beepFreqHz.load(), m_beepDurationMs.load(),
            m_accessTimeOutMs.load()};
}

// ---- start ------------------------------------------------------------------------------------

bool KVRService::OnInit() {
    Trace("KVRService::OnInit");
    m_szDownSoundFile = kDownSoundFile;
    m_szUpSoundFile = kUpSoundFile;
    m_events = TouchEvents::create();
    if (!m_events) {
        // Without its events the service could neither sound nor stop: refuse to start.
        Trace("Cannot create the touch events");
        return false;
    }

    const TouchSettings s = readStartSettings();
    m_soundType = s.soundType;
    m_beepFreqHz = s.freqHz;
    m_beepDurationMs = s.durationMs;
    m_accessTimeOutMs = s.timeOutMs;
    Trace("Sound type %u, beep %u Hz for %u ms, access time-out %u ms", s.soundType, s.freqHz,
          s.durationMs, s.timeOutMs);

    // The configured ports are connected by the controller watcher once the serial driver
    // serves, which may be before or after this start.
    m_wakeCount = 0;
    m_accessLocked = 0;
    return true;
}

// ---- the event loop ---------------------------------------------------------------------------

void KVRService::Run() {
    Trace("KVRService::Run");
    if (!m_events) return;
    m_watcher = std::make_unique<ControllerWatcher>(*m_events, *this, m_switch);
    m_watcherThread = std::thread([this] { m_watcher->run(); });
    m_accessTimer.start();

    const auto waitList = m_events->inPriorityOrder();
    // The control handler clears the running flag right after it set the stop event, possibly
    // while a touch is being handled here: the loop then goes round once more, so that the
    // stop event (first in priority) is always handled and the stop always sounds.
    bool stopped = false;
    while (!stopped && (m_bIsRunning.load() || m_events->stop.isSet())) {
        const int which = ipc::waitAny(waitList, std::nullopt);
        // Each event is cleared before it is handled, so that a driver setting it again while
        // the handler runs is not lost.
        switch (which) {
        case TouchEvents::kStop:
            m_bIsRunning = 0;
            sound::beep(kStopBeepHz, kStopBeepMs);
            Trace("KVR service is stoped");
            stopped = true; // the stop event stays set: the watcher ends on it too
            break;
        case TouchEvents::kTouchDown:
            m_events->touchDown.reset();
            onTouchDown();
            break;
        case TouchEvents::kTouchUp:
            m_events->touchUp.reset();
            onTouchUp();
            break;
        case TouchEvents::kGlobalDown:
            m_events->globalDown.reset();
            guarded("touch", &KVRService::onGlobalTouchDown);
            break;
        case TouchEvents::kGlobalUp:
            m_events->globalUp.reset();
            guarded("lift", &KVRService::onGlobalTouchUp);
            break;
        default:
            // The wait itself failed (out of resources): do not spin, look again shortly.
            m_events->stop.wait(std::chrono::milliseconds(100));
            continue;
        }
        ++m_wakeCount;
    }

    // Nothing the service started may outlive it.
    m_events->stop.set();
    m_accessTimer.stop();
    if (m_watcherThread.joinable()) m_watcherThread.join();
    Trace("KVRService::Run ended");
}

// Runs one handler of the loop; a failure (out of memory) ends that handling only, never the
// service.
void KVRService::guarded(const char* what, void (KVRService::*handler)()) {
    try {
        (this->*handler)();
    } catch (const std::exception& e) {
        Trace("Handling a %s failed: %s", what, e.what());
    }
}

void KVRService::playSound(const std::string& file, std::uint32_t freqHz) {
    if (m_soundType.load() == kSoundTypeWave) {
        if (auto path = findSoundFile(file)) sound::playWave(*path);
        return;
    }
    sound::beep(freqHz, m_beepDurationMs.load());
}

void KVRService::onTouchDown() {
    playSound(m_szDownSoundFile, m_beepFreqHz.load());
}

void KVRService::onTouchUp() {
    playSound(m_szUpSoundFile, upBeepHz(m_beepFreqHz.load()));
}

// The first touch after the controllers were switched on silences every other controller.
void KVRService::onGlobalTouchDown() {
    // A touch ends the wait of the access time-out.
    m_accessTimer.disarm();
    // A time-out that is switching the panels on right now finishes first; this touch then
    // finds access open and silences the others again.
    std::lock_guard lock(m_switch.lock);
    if (m_accessLocked.load() != 0 || m_switch.shutDown) return;
    for (const Unit& unit : listUnits()) {
        auto link = DriverLink::open(unit.bus);
        if (!link) continue;
        const auto touched = link->lastDownDevice();
        if (touched && *touched == unit.number) continue;
        link->silence(unit.number);
        Trace("Access: %s silenced", controllerName(unit).c_str());
    }
    m_accessLocked = 1;
}

// A lift: take the drivers' touch records (so they notify again) and start the time-out.
void KVRService::onGlobalTouchUp() {
    bool serialDone = false, usbDone = false;
    for (const Unit& unit : listUnits()) {
        bool& done = unit.bus == Bus::Serial ? serialDone : usbDone;
        if (done) continue;
        done = true;
        if (auto link = DriverLink::open(unit.bus)) link->releaseLastTouch();
    }
    m_accessTimer.arm(std::chrono::milliseconds(m_accessTimeOutMs.load()));
}

// No touch for the whole time-out: every controller reports again.
void KVRService::onAccessTimeOut() {
    std::lock_guard lock(m_switch.lock);
    // Once the controllers have been silenced for a shutdown they stay so.
    if (m_switch.shutDown) return;
    for (const Unit& unit : listUnits()) {
        if (auto link = DriverLink::open(unit.bus)) link->sendReportMode(unit.number);
    }
    m_accessLocked = 0;
    Trace("Access: time-out, every controller on again");
}

// ---- controls ---------------------------------------------------------------------------------

void KVRService::OnStop() {
    Trace("KVRService::OnStop");
    if (m_events) m_events->stop.set();
    m_StopSignal.Set();
}

void KVRService::OnInterrogate() {
    Trace("KVRService::OnInterrogate");
}
void KVRService::OnPause() {
    Trace("KVRService::OnPause");
}
void KVRService::OnContinue() {
    Trace("KVRService::OnContinue");
}

void KVRService::OnShutdown() {
    // Nothing may switch the controllers on again once they have been silenced: a time-out
    // action or a set-up under way finishes first (the switch lock), and none starts after.
    m_accessTimer.disarm();
    std::lock_guard lock(m_switch.lock);
    m_switch.shutDown = true;
    std::optional<DriverLink> serial;
    const auto names = listControllers();
    for (std::size_t i = 0; i < names.size(); ++i) {
        Trace("ShutDown: Device Number:%d", static_cast<int>(i));
        Trace("ShutDown: Device Name:%s", names[i].c_str());
        const auto unit = parseControllerName(names[i]);
        if (!unit || unit->bus != Bus::Serial) continue;
        if (!serial) serial = DriverLink::open(Bus::Serial);
        if (!serial) continue;
        Trace("Send [MI] command to RS232_DEVICE%d", unit->number);
        serial->silence(unit->number);
    }
    // The drivers write their markers afresh when they connect at the next start.
    for (int n = 0; n < kSerialUnits; ++n)
        reg::deleteValue(kControllerKey,
                         controllerName({Bus::Serial, static_cast<std::uint8_t>(n)}));
    for (int n = 0; n < kUsbUnits; ++n)
        reg::deleteValue(kControllerKey, controllerName({Bus::Usb, static_cast<std::uint8_t>(n)}));
    Trace("KVRUsbService::OnShutdown");
}

bool KVRService::OnUserControl(std::uint32_t opcode) {
    Trace("KVRService::OnUserControl(%8.8lXH)", static_cast<unsigned long>(opcode));
    switch (opcode) {
    case kControlSaveStatus:
        saveStatus();
        return true;
    case kControlBeepSound:
    case kControlWaveSound: {
        const std::uint32_t type = opcode == kControlBeepSound ? kSoundTypeBeep : kSoundTypeWave;
        m_soundType = type;
        storeSoundType(type);
        return true;
    }
    case kControlReloadFreq:
        m_beepFreqHz = reloadFreqHz();
        return true;
    case kControlReloadDuration:
        m_beepDurationMs = reloadDurationMs();
        return true;
    case kControlReloadTimeOut:
        m_accessTimeOutMs = reloadTimeOutMs();
        return true;
    default:
        return false;
    }
}

void KVRService::saveStatus() {
    Trace("Saving current status");
    const std::string key = std::string(kServicesKey) + "\\" + ServiceName() + "\\Status";
    Trace("Creating key: %s", key.c_str());
    if (const reg::Status s = reg::createKey(key); s != reg::Status::Ok) {
        Trace("Failed to create Status key (%lu)", static_cast<unsigned long>(errorCode(s)));
        return;
    }
    const std::uint32_t count = m_wakeCount.load();
    Trace("Saving 'Current' as %ld", static_cast<long>(count));
    reg::setDword(key, "Current", count);
}

} // namespace kvr::touchsvc
