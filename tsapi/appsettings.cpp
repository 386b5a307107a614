// Application settings: the touch-sound settings, the touch access time-out and the manual
// right-click switch in the application key; the service controls that tell the touch service
// to take a change over; the touch beeps; the manual right-click program; the drivers' manual
// right-click switch and event.
//
// Nothing is kept between calls: each call reads or writes the registry.

#include "platform/desktop/message_box.h"
#include "platform/desktop/spawn.h"
#include "platform/desktop/windows.h"
#include "platform/registry/registry.h"
#include "platform/service/service_control.h"
#include "platform/sound/sound.h"
#include "tsapi/internal.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::tsapi {
namespace {

// The touch service as it registers itself. (Older installations addressed it as
// "Tactivo Service"; controls sent under that name never reached it.)
constexpr std::string_view kServiceName = "LumarconTouch Service";

// User controls the touch service takes.
constexpr std::uint32_t kControlBeepSound = 222;
constexpr std::uint32_t kControlWaveSound = 223;
constexpr std::uint32_t kControlReloadFreq = 224;
constexpr std::uint32_t kControlReloadDuration = 225;
constexpr std::uint32_t kControlReloadTimeout = 230;

// Application key values.
constexpr std::string_view kSoundType = "SoundType";
constexpr std::string_view kBuzzerFreq = "BuzzerFreq";
constexpr std::string_view kBuzzerDuration = "BuzzerDuration";
constexpr std::string_view kTimeOut = "TimeOut";
constexpr std::string_view kRButtonPath = "RButton Path";
constexpr std::string_view kManualRight = "ManualRight";

constexpr std::uint32_t kSoundTypeBeep = 1;
constexpr std::uint32_t kSoundTypeWave = 2;

struct Range {
    std::uint32_t min, max;
    [[nodiscard]] bool holds(std::uint32_t v) const { return v >= min && v <= max; }
};
constexpr Range kFreqRangeHz{37, 32767};
constexpr Range kDurationRangeMs{5, 1000};
constexpr Range kTimeoutRangeMs{500, 10000};

constexpr std::uint32_t kDefaultFreqHz = 2000;
constexpr std::uint32_t kDefaultDurationMs = 20;
// The touch-up beep is an octave below the touch-down beep, but never below what a system
// beep can sound.
constexpr std::uint32_t kMinUpBeepHz = 37;

// The system start-up list and the manual right-click program's entry in it.
constexpr std::string_view kRunKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kRunValue = "RButton Service";
// The manual right-click program's window, by which it is found and closed.
constexpr std::string_view kRClickWindow = "RClick";
// "RButton Path" is read into 255 bytes: 254 characters and the terminating zero.
constexpr std::size_t kMaxProgramPathChars = 254;

// Reads a 4-byte value of the application key; nothing when it cannot be read.
std::optional<std::uint32_t> readAppDword(std::string_view name) {
    std::uint32_t value = 0;
    if (reg::queryDword(kAppKey, name, value) != reg::Status::Ok) return std::nullopt;
    return value;
}

// Steps 1 and 2 of every numeric setter: range, then the value. The service is told only after
// the value is stored, so a reload it does on the control always finds the new value.
int setAndAnnounce(std::string_view name, std::uint32_t value, Range range, std::uint32_t control) {
    if (!range.holds(value)) return 0;
    if (reg::setDword(kAppKey, name, value) != reg::Status::Ok) return 0;
    // The value stays written even when the service is not there: it reads it at its start.
    return svc::controlService(kServiceName, control).delivered() ? 1 : 0;
}

// "ManualRight": 1 when written, also when the application key is missing; 0 when the write
// itself fails.
int writeManualRight(std::uint32_t on) {
    switch (reg::setDword(kAppKey, kManualRight, on)) {
    case reg::Status::Ok:
    case reg::Status::NotFound:
        return 1;
    default:
        return 0;
    }
}

// The beep settings as the beeps use them. A missing value sounds as the default; a length
// outside 5..1000 ms also sounds at the default, since a beep blocks its caller for its whole
// length and a damaged value must not hold a program for hours.
struct BeepSettings {
    std::uint32_t freqHz;
    std::uint32_t durationMs;
};
BeepSettings beepSettings() {
    const std::uint32_t freq = readAppDword(kBuzzerFreq).value_or(kDefaultFreqHz);
    std::uint32_t duration = readAppDword(kBuzzerDuration).value_or(kDefaultDurationMs);
    if (!kDurationRangeMs.holds(duration)) duration = kDefaultDurationMs;
    return {freq, duration};
}

int manualRightClickOn() {
    std::string path;
    if (reg::querySz(kAppKey, kRButtonPath, path) != reg::Status::Ok) return 0;
    if (path.empty() || path.size() > kMaxProgramPathChars) return 0;

    if (!desktop::startDetached(path)) return 0;

    // The start-up list starts the program again at the next login. On Windows this key
    // always exists; here it may not yet, and a key that cannot be made is skipped.
    if (reg::createKey(kRunKey) == reg::Status::Ok &&
        reg::setSz(kRunKey, kRunValue, path) != reg::Status::Ok)
        return 0;

    return writeManualRight(1);
}

int manualRightClickOff() {
    if (!desktop::sendDestroy(kRClickWindow)) return 0;

    // An entry that is not there (the program was started by hand) is as good as removed:
    // the program is closed, so the switch must read "off".
    switch (reg::deleteValue(kRunKey, kRunValue)) {
    case reg::Status::Ok:
    case reg::Status::NotFound:
        break;
    default:
        return 0;
    }
    return writeManualRight(0);
}

// The drivers' control devices opened for the manual right-click switch and event; they stay
// open until the process ends.
std::optional<ipc::ControlDevice>& manualRightDevice(DriverKind kind) {
    static std::array<std::optional<ipc::ControlDevice>, 2> devices;
    return devices[kind == DriverKind::Serial ? 0 : 1];
}

// The driver kinds of the controllers in this process's table, serial first.
std::array<bool, 2> kindsInTable() {
    std::array<bool, 2> present{false, false};
    const ControllerTable& table = controllerTable();
    const std::size_t stored = std::min<std::size_t>(table.count, kTableEntries);
    for (std::size_t i = 0; i < stored; ++i) {
        const std::string_view name(table.names[i].data(),
                                    std::find(table.names[i].begin(), table.names[i].end(), '\0') -
                                        table.names[i].begin());
        if (name.starts_with(kSerialPrefix)) present[0] = true;
        if (name.starts_with(kUsbPrefix)) present[1] = true;
    }
    return present;
}

// Sends one driver-wide request to each driver whose controllers are in the table. A device
// kept from an earlier call whose daemon has gone since is opened once more.
void toEachDriver(std::uint32_t code, const void* in, std::uint32_t inLength, int eventFd) {
    const auto present = kindsInTable();
    for (DriverKind kind : {DriverKind::Serial, DriverKind::Usb}) {
        if (!present[kind == DriverKind::Serial ? 0 : 1]) continue;
        auto& device = manualRightDevice(kind);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!device) device = openControlDevice(kind);
            if (!device) break;
            std::uint8_t reply = 0;
            std::uint32_t returned = 0;
            if (deviceIoControl(*device, code, in, inLength, &reply, sizeof reply, &returned,
                                eventFd))
                break;
            device.reset();
        }
    }
}

} // namespace
} // namespace kvr::tsapi

using namespace kvr::tsapi;
namespace reg = kvr::reg;

extern "C" {

int32_t Set_Sound_Type(uint32_t soundType) {
    return guarded<int32_t>(0, [&] {
        // The type is a byte: only the low byte counts.
        const std::uint32_t type = soundType & 0xFFu;
        std::uint32_t control = 0;
        if (type == kSoundTypeBeep)
            control = kControlBeepSound;
        else if (type == kSoundTypeWave)
            control = kControlWaveSound;
        else
            return 0;
        // The service stores the type itself when it switches.
        return kvr::svc::controlService(kServiceName, control).delivered() ? 1 : 0;
    });
}

uint32_t Get_Sound_Type(void) {
    return guarded<uint32_t>(0, [] {
        if (reg::keyExists(kAppKey) != reg::Status::Ok) return 0u;
        const auto type = readAppDword(kSoundType);
        if (!type) {
            kvr::desktop::messageBox("Error to Read Reg Value", "Message", kvr::desktop::MB_OK);
            return 0u;
        }
        return (*type == kSoundTypeBeep || *type == kSoundTypeWave) ? *type : 0u;
    });
}

int32_t Set_BuzzerFreq(uint32_t frequencyHz) {
    return guarded<int32_t>(0, [&] {
        return setAndAnnounce(kBuzzerFreq, frequencyHz, kFreqRangeHz, kControlReloadFreq);
    });
}

uint32_t Get_BuzzerFreq(void) {
    return guarded<uint32_t>(0, [] { return readAppDword(kBuzzerFreq).value_or(0); });
}

int32_t Set_BuzzerDuration(uint32_t durationMs) {
    return guarded<int32_t>(0, [&] {
        return setAndAnnounce(kBuzzerDuration, durationMs, kDurationRangeMs,
                              kControlReloadDuration);
    });
}

uint32_t Get_BuzzerDuration(void) {
    return guarded<uint32_t>(0, [] { return readAppDword(kBuzzerDuration).value_or(0); });
}

int32_t DownBeep(void) {
    return guarded<int32_t>(0, [] {
        const BeepSettings s = beepSettings();
        return kvr::sound::beep(s.freqHz, s.durationMs) ? 1 : 0;
    });
}

int32_t UpBeep(void) {
    return guarded<int32_t>(0, [] {
        const BeepSettings s = beepSettings();
        return kvr::sound::beep(std::max(s.freqHz / 2, kMinUpBeepHz), s.durationMs) ? 1 : 0;
    });
}

int32_t Set_Touch_Access_Timeout(uint32_t timeoutMs) {
    return guarded<int32_t>(0, [&] {
        return setAndAnnounce(kTimeOut, timeoutMs, kTimeoutRangeMs, kControlReloadTimeout);
    });
}

uint32_t Touch_Access_Timeout(void) {
    return guarded<uint32_t>(0, [] { return readAppDword(kTimeOut).value_or(0); });
}

int32_t Set_MRightClick_App(int32_t start) {
    return guarded<int32_t>(0, [&] {
        return (start == 1 || start == -1) ? manualRightClickOn() : manualRightClickOff();
    });
}

int32_t Get_Manual_RightClick_Status(void) {
    return guarded<int32_t>(0, [] { return readAppDword(kManualRight) == 1u ? 1 : 0; });
}

int32_t SetManualRightClick(int32_t flag) {
    return guarded<int32_t>(1, [&] {
        const std::uint8_t on = flag == 1 ? 1 : 0;
        toEachDriver(IOCTL_RS232_SET_MANUAL_RIGHT_CLICK, &on, sizeof on, -1);
        return 1;
    });
}

int32_t SetManualRightEvent(void* eventHandle) {
    return guarded<int32_t>(1, [&] {
        // The request carries the handle value; the descriptor itself travels with it.
        std::vector<std::uint8_t> request;
        appendDword(request, static_cast<std::uint32_t>(handleFromPointer(eventHandle)));
        toEachDriver(IOCTL_RS232_SET_MANUAL_RIGHT_EVENT, request.data(),
                     static_cast<std::uint32_t>(request.size()),
                     descriptorFromPointer(eventHandle));
        return 1;
    });
}

} // extern "C"
