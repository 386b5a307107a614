#pragma once
// KVRService, the touch service ("LumarconTouch Service"): it sets up every controller that
// appears, plays the touch-down and touch-up sounds, lets one panel report at a time (touch
// access time-out), takes over changed settings when the library tells it, and silences the
// serial controllers at system shutdown.
//
// Threads:
//  - the service thread runs the event loop (Run);
//  - the controller watcher follows the drivers and passes once a second (ControllerWatcher);
//  - the access timer switches the controllers back on after the time-out (AccessTimer);
//  - the control handler (main thread) runs OnStop, OnShutdown and OnUserControl.
// Settings, the access lock and the wake count are atomics; each thread opens its own control
// devices; the library is used through library_access.h, one call at a time.

#include "service/framework/ntservice.h"
#include "service/touch/access_timer.h"
#include "service/touch/controller_watcher.h"
#include "service/touch/touch_events.h"
#include "service/touch/touch_settings.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace kvr::touchsvc {

inline constexpr const char* kServiceName = "LumarconTouch Service";
inline constexpr const char* kDownSoundFile = "DownSound.wav";
inline constexpr const char* kUpSoundFile = "UpSound.wav";

// The user controls this service handles.
inline constexpr std::uint32_t kControlSaveStatus = 128;
inline constexpr std::uint32_t kControlBeepSound = 222;
inline constexpr std::uint32_t kControlWaveSound = 223;
inline constexpr std::uint32_t kControlReloadFreq = 224;
inline constexpr std::uint32_t kControlReloadDuration = 225;
inline constexpr std::uint32_t kControlReloadTimeOut = 230;

// The beep that says the service has stopped.
inline constexpr std::uint32_t kStopBeepHz = 20000;
inline constexpr std::uint32_t kStopBeepMs = 300;

// Where a sound file name is looked up: the working folder, the state folder, the program's own
// folder and the installed share folder; the first existing file wins. Nothing when none has it
// (the sound is then skipped, as the system player fails silently on a missing file).
std::optional<std::filesystem::path> findSoundFile(const std::string& name);

class KVRService : public CNTService {
public:
    explicit KVRService(const char* serviceName = kServiceName);
    ~KVRService() override;

    void Run() override;
    bool OnInit() override;
    void OnStop() override;
    void OnInterrogate() override;
    void OnPause() override;
    void OnContinue() override;
    void OnShutdown() override;
    bool OnUserControl(std::uint32_t opcode) override;

    // For diagnostics and tests.
    [[nodiscard]] TouchSettings settings() const;
    [[nodiscard]] bool accessLocked() const { return m_accessLocked.load() != 0; }
    [[nodiscard]] std::uint32_t wakeCount() const { return m_wakeCount.load(); }

private:
    void onTouchDown();
    void onTouchUp();
    void onGlobalTouchDown();
    void onGlobalTouchUp();
    void onAccessTimeOut();
    void saveStatus();
    void guarded(const char* what, void (KVRService::*handler)());
    void playSound(const std::string& file, std::uint32_t freqHz);

    std::string m_szDownSoundFile = kDownSoundFile;
    std::string m_szUpSoundFile = kUpSoundFile;
    std::optional<TouchEvents> m_events; // from OnInit to the destructor

    std::atomic<std::uint32_t> m_soundType{kSoundTypeBeep};
    std::atomic<std::uint32_t> m_beepFreqHz{kDefaultFreqHz};
    std::atomic<std::uint32_t> m_beepDurationMs{kDefaultDurationMs};
    std::atomic<std::uint32_t> m_accessTimeOutMs{kDefaultTimeOutMs};
    std::atomic<std::uint32_t> m_accessLocked{0};
    // Held while the panels are silenced for a touch or at shutdown, or switched on after a
    // time-out or at a set-up, so these never interleave; the shutdown waits for the others.
    ControllerSwitch m_switch;
    std::atomic<std::uint32_t> m_wakeCount{0};

    std::unique_ptr<ControllerWatcher> m_watcher;
    std::thread m_watcherThread;
    AccessTimer m_accessTimer;
};

} // namespace kvr::touchsvc
