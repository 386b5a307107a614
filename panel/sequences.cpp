#include "panel/sequences.h"

#include "gui/library_worker.h"
#include "panel/ranges.h"
#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/replies.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>

namespace kvr::panel {
namespace {

namespace command = protocol::command;
using protocol::Bytes;

// Waits between writing a command and reading its reply.
constexpr std::uint16_t kProbeWaitMs = 100;
constexpr std::uint16_t kProbeGapMs = 100;
constexpr std::uint16_t kDisplayRowGapMs = 200;
constexpr std::uint16_t kIdentityWaitMs = 100;
constexpr std::uint16_t kStopReportsWaitMs = 200;
constexpr std::uint16_t kPageWaitMs = 300;
constexpr std::uint16_t kPageEndWaitMs = 200;
constexpr std::uint16_t kSensitivityWaitMs = 250;
constexpr std::uint16_t kResetWaitMs = 300;
constexpr std::uint16_t kCapabilityWaitMs = 100;
constexpr std::uint16_t kStoreFirstWaitMs = 30;
constexpr std::uint16_t kStoreSecondWaitMs = 100;

constexpr std::size_t kReplyBytes = protocol::kReplyReadSize;
constexpr int kSensitivityAttempts = 10;
constexpr std::size_t kSensitivityReadSize = 3;
constexpr int kMaxSensitivityLevel = 4;
constexpr std::string_view kSensitivityAddress = "9C";
constexpr std::string_view kSensitivitySecondByte = "80";

// The parameter words the pages use.
constexpr std::string_view kAddrTiming = "01";       // measurement time, in-focus
constexpr std::string_view kAddrOutFocus = "03";     // (kept), out-focus
constexpr std::string_view kAddrDelay = "05";        // (kept), measurement delay
constexpr std::string_view kAddrEnables = "98";      // (kept), enable bits
constexpr std::string_view kAddrLevels = "9F";       // noise level, acceleration level
constexpr std::uint8_t kAccEnableBit = 0x02;         // bit 1: the "Acc.Level" row's box
constexpr std::uint8_t kNoiseEnableBit = 0x01;       // bit 0: the "A.D.N.L." row's box
constexpr int kLevelsExtension = 2;                  // "ii" level from which 9F is read
constexpr int kEnablesExtension = 4;                 // "ii" level from which 98 is read
constexpr int kExtendedMin = 20, kExtendedMax = 250; // valid 9F bytes

std::optional<protocol::ParameterWord> readParameter(ControllerLink& link, std::string_view address,
                                                     bool flush) {
    const auto reply = protocol::judgeParameterReply(
        link.exchangeGetParameter(address, kPageWaitMs, flush ? Flush::Before : Flush::None));
    if (!reply.valid()) return std::nullopt;
    return reply.value;
}

bool inExtendedRange(int value) {
    return value >= kExtendedMin && value <= kExtendedMax;
}

int extensionLevelOf(ControllerLink& link) {
    return protocol::extensionLevel(
        link.exchange(command::kExtensionLevel, kPageWaitMs, kReplyBytes, Flush::None));
}

// Unit type ("UT", else the eight characters of an exactly 10-byte "OI" reply).
std::optional<std::string> readUnitType(ControllerLink& link) {
    if (auto unit = protocol::judgeUnitType(
            link.exchange(command::kUnitType, kPageWaitMs, kReplyBytes, Flush::Before)))
        return unit;
    return protocol::judgeUnitType(
        link.exchange(command::kIdentity, kPageWaitMs, kReplyBytes, Flush::Before));
}

void readExtendedRows(ControllerLink& link, std::uint32_t firmwareNumber, FirmwarePage& page) {
    page.extendedDecided = true; // both rows start disabled and empty, boxes hidden
    if (firmwareNumber < protocol::kNoiseLevelFirmware) return;
    const int level = extensionLevelOf(link);
    if (level < kLevelsExtension) return;
    if (const auto word = readParameter(link, kAddrLevels, true)) {
        if (inExtendedRange(word->first)) page.noiseLevel = word->first;
        if (inExtendedRange(word->second)) page.accLevel = word->second;
    }
    if (level < kEnablesExtension) return;
    if (const auto word = readParameter(link, kAddrEnables, true))
        page.enableBoxes = {(word->second & kAccEnableBit) != 0,
                            (word->second & kNoiseEnableBit) != 0};
}

// "R" or "RD" with its one repetition (written again without a flush).
bool restartCommand(ControllerLink& link, std::string_view text) {
    if (protocol::judgeAcknowledge(link.exchange(text, kResetWaitMs, kReplyBytes, Flush::Before)))
        return true;
    return protocol::judgeAcknowledge(link.exchange(text, kResetWaitMs, kReplyBytes, Flush::None));
}

void writeParameter(ControllerLink& link, std::string_view address, std::string_view first,
                    std::string_view second) {
    // The reply is read and not judged.
    link.exchangeSetParameter(address, first, second, kPageWaitMs, kReplyBytes, Flush::None);
}

} // namespace

// ---- controller list ---------------------------------------------------------------------------

std::string controllerSlotName(std::string_view libraryName) {
    std::size_t kind = libraryName.find("RS232");
    if (kind == std::string_view::npos) kind = libraryName.find("USB");
    if (kind == std::string_view::npos) return {};
    constexpr std::string_view kDevice = "DEVICE";
    const std::size_t device = libraryName.find(kDevice, kind);
    // "DEVICE" must stand past the third character (and after the kind word), with one more
    // character for the device number.
    if (device == std::string_view::npos || device + 1 <= 3) return {};
    const std::size_t end = std::min(libraryName.size(), device + kDevice.size() + 1);
    return std::string(libraryName.substr(kind, end - kind));
}

ControllerList enumerateControllers() {
    return gui::libraryCall([] {
        ControllerList list;
        list.count = GetExistControllers();
        for (int i = 1; i <= list.listed(); ++i) {
            std::array<char, 21> buffer{};
            if (GetControllerName(static_cast<std::uint8_t>(i), buffer.data(), 20) == 0) continue;
            list.names[static_cast<std::size_t>(i)] = controllerSlotName(buffer.data());
        }
        return list;
    });
}

bool probeControllers(ControllerList& list, Session& session) {
    for (int i = 1; i <= list.listed(); ++i) {
        list.selected = i;
        session.selectedName = list.names[static_cast<std::size_t>(i)];
        ControllerLink link(session);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (protocol::probeAnswered(
                    link.exchange(command::kUnitType, kProbeWaitMs, kReplyBytes, Flush::None)))
                return true;
        }
        link.close();
        ControllerLink::wait(kProbeGapMs);
    }
    return false;
}

std::vector<std::string> readDisplayColumn(const ControllerList& list, Session& session) {
    std::vector<std::string> column;
    for (int i = 1; i <= list.listed(); ++i) {
        Session row = session;
        row.selectedName = list.names[static_cast<std::size_t>(i)];
        const int display = readDisplayNumber(row) + 1;
        column.push_back("No. #" + std::to_string(display));
        ControllerLink::wait(kDisplayRowGapMs);
    }
    return column;
}

// ---- identity and firmware page ----------------------------------------------------------------

std::string readIdentityText(Session& session) {
    ControllerLink link(session);
    // Written once, then flushed and written again: only the second reply is read.
    link.exchange(command::kIdentity, kIdentityWaitMs, 0, Flush::None);
    return protocol::identityText(
        link.exchange(command::kIdentity, kIdentityWaitMs, kReplyBytes, Flush::Before));
}

FirmwarePage readFirmwarePage(Session& session, std::uint32_t firmwareNumber,
                              std::uint8_t savedReportMode,
                              const std::function<void(int level)>& sensitivityRead) {
    FirmwarePage page;
    ControllerLink link(session);
    link.exchange(command::kStopReports, kStopReportsWaitMs, 0, Flush::Before);

    const auto unit = readUnitType(link);
    page.recognised = unit && protocol::isFamilyUnitType(*unit);
    if (page.recognised) {
        if (const auto word = readParameter(link, kAddrTiming, false)) {
            page.measTime = kMeasTime.clamp(word->first);
            page.inFocus = kInFocus.clamp(word->second);
        }
        if (const auto word = readParameter(link, kAddrOutFocus, true)) {
            page.kept03 = word->firstText();
            page.outFocus = kOutFocus.clamp(word->second);
        }
        if (const auto word = readParameter(link, "9C", true)) {
            if (word->first <= kMaxSensitivityLevel && sensitivityRead)
                sensitivityRead(word->first);
        }
        if (const auto word = readParameter(link, kAddrDelay, true)) {
            page.kept05 = word->firstText();
            page.measDelay = kMeasDelay.clamp(word->second);
        }
        readExtendedRows(link, firmwareNumber, page);
    }
    link.setReportMode(savedReportMode);
    ControllerLink::wait(kPageEndWaitMs);
    return page;
}

void writeAdvancePage(Session& session, const AdvanceValues& v) {
    ControllerLink link(session);
    const std::string measTime = protocol::hexText(v.measTime);
    const std::string inFocus = protocol::hexText(v.inFocus);
    writeParameter(link, kAddrTiming, measTime, inFocus);
    writeParameter(link, kAddrOutFocus, v.kept03, protocol::hexText(v.outFocus));
    writeParameter(link, kAddrDelay, v.kept05, protocol::hexText(v.measDelay));
    writeParameter(link, kAddrTiming, measTime, inFocus);
    if (v.firmwareNumber >= protocol::kNoiseLevelFirmware) {
        // Both levels shown with more than one character: values 10 and up (an empty row has
        // none).
        const auto shownWide = [](const std::optional<std::uint32_t>& level) {
            return level && *level >= 10;
        };
        if (shownWide(v.noiseLevel) && shownWide(v.accLevel))
            writeParameter(link, kAddrLevels, protocol::hexText(*v.noiseLevel),
                           protocol::hexText(*v.accLevel));
        if (extensionLevelOf(link) >= kEnablesExtension) {
            if (const auto word = readParameter(link, kAddrEnables, true)) {
                std::uint8_t bits = word->second & ~(kAccEnableBit | kNoiseEnableBit);
                if (v.accBox) bits |= kAccEnableBit;
                if (v.noiseBox) bits |= kNoiseEnableBit;
                writeParameter(link, kAddrEnables, word->firstText(), protocol::hexText(bits));
            }
        }
    }
    link.close();
    session.settingsChanged = true;
}

bool sendSensitivity(Session& session, int level) {
    if (level < 0 || level > kMaxSensitivityLevel) return false;
    const std::string digit(1, static_cast<char>('0' + level));
    ControllerLink link(session);
    bool done = false;
    for (int attempt = 1; attempt <= kSensitivityAttempts && !done; ++attempt) {
        // The flush comes after each write: a slow line's late replies are dropped.
        link.exchange(std::string(command::kSensitivity) + digit, kSensitivityWaitMs, 0,
                      Flush::After);
        done = protocol::judgeAcknowledgeStatus(
            link.exchangeSetParameter(kSensitivityAddress, "0" + digit, kSensitivitySecondByte,
                                      kSensitivityWaitMs, kSensitivityReadSize, Flush::After));
    }
    link.close();
    session.settingsChanged = true;
    return done;
}

// ---- tools -------------------------------------------------------------------------------------

bool resetController(Session& session, std::uint8_t savedReportMode) {
    ControllerLink link(session);
    const bool ok = restartCommand(link, command::kReset);
    if (ok) link.setReportMode(savedReportMode);
    link.setReportMode(savedReportMode);
    return ok;
}

bool restoreDefaults(Session& session) {
    ControllerLink link(session);
    return restartCommand(link, command::kRestoreDefaults);
}

std::uint8_t readDisplayNumber(Session& session) {
    ControllerLink link(session);
    return link.onHandle([](std::int32_t h) { return GetDisplayNumber(h); });
}

// ---- exit --------------------------------------------------------------------------------------

bool queryCapability(Session& session) {
    ControllerLink link(session);
    return protocol::judgeCapability(
        link.exchange(command::kCapability, kCapabilityWaitMs, kReplyBytes, Flush::Before));
}

bool sendExitCommands(Session& session) {
    if (!session.settingsChanged) return false;
    queryCapability(session); // asked as the family expects; the answer changes nothing
    ControllerLink link(session);
    link.exchange(command::kStoreSettings, kStoreFirstWaitMs, 0, Flush::None);
    link.exchange(command::kStoreSettings, kStoreSecondWaitMs, kReplyBytes,
                  Flush::None); // not judged
    return true;
}

bool releasePort(Session& session) {
    ControllerLink link(session);
    return link.onHandle([](std::int32_t h) { return CloseCOMPort(h); }) != 0;
}

} // namespace kvr::panel
