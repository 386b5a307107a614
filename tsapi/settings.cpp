// Controller and driver settings: the driver's per-controller switches (one control code each),
// the desktop's double-click settings, and the parameters kept in the controller's own settings
// memory, read and written with get-parameter / set-parameter exchanges.
//
// Controller parameters are 16-bit words addressed by two hex digits; a set-parameter command
// rewrites a whole word, so every setter reads the word first and writes back the byte it does
// not change, digits exactly as the controller sent them:
//
//     address  high byte                      low byte
//     "02"     right-click time / 8 ms        (kept)
//     "99"     measure time                   in-focus
//     "9B"     (kept)                         out-focus
//     "9C"     touch sensitivity 0..4         (kept)
//     "9D"     (kept)                         measure delay
//     "9F"     noise level                    acceleration level

#include "platform/desktop/mouse_settings.h"
#include "protocol/frame.h"
#include "protocol/replies.h"
#include "tsapi/internal.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::tsapi {
namespace {

// ---- driver settings -------------------------------------------------------------------------

// Edge expansion sides as the driver numbers them.
inline constexpr std::uint8_t kFirstSide = 1; // top
inline constexpr std::uint8_t kLastSide = 4;  // right
inline constexpr std::uint32_t kMaxExpandValue = 4095;

inline constexpr std::uint32_t kSoundStatusBytes = 2;     // down switch, up switch
inline constexpr std::uint32_t kRightClickReplyBytes = 5; // a 32-bit value, then the switch
inline constexpr std::size_t kRightClickSwitchAt = 4;
inline constexpr std::uint32_t kExpandReplyBytes = 4;

// The driver's report modes; any mode but point mode runs the controller in stream mode.
inline constexpr std::uint8_t kPointReportMode = 3;
// What GetReportMode answers when the driver gives no mode: the desktop mode.
inline constexpr std::uint8_t kFallbackReportMode = 2;

std::uint8_t flagByte(std::int32_t flag) {
    return flag == 1 ? 1 : 0;
}

// A per-controller request acknowledged with one byte 1; 0 for a handle naming no controller.
std::int32_t acknowledgedSetting(std::int32_t handle, std::uint32_t code,
                                 std::span<const std::uint8_t> payload) {
    const auto controller = resolveHandle(handle);
    if (!controller) return 0;
    return acknowledgedRequest(*controller, code, payload) ? 1 : 0;
}

// The reply of a per-controller request without payload; nothing for an invalid handle.
std::optional<std::vector<std::uint8_t>> settingReply(std::int32_t handle, std::uint32_t code,
                                                      std::span<const std::uint8_t> payload,
                                                      std::uint32_t replyBytes) {
    const auto controller = resolveHandle(handle);
    if (!controller) return std::nullopt;
    return replyRequest(*controller, code, payload, replyBytes);
}

// ---- desktop double-click settings -----------------------------------------------------------

inline constexpr std::uint8_t kMaxSpeedLevel = 10;
inline constexpr std::uint32_t kMsPerSpeedLevel = 100;
inline constexpr std::uint8_t kMaxAreaLevel = 6;
inline constexpr std::uint32_t kPixelsPerAreaLevel = 10;

// ---- controller parameters -------------------------------------------------------------------

enum class Half : std::uint8_t { High, Low };

struct Parameter {
    std::string_view address; // two hex digits
    Half half;
};

inline constexpr Parameter kRightClickTime{"02", Half::High};
inline constexpr Parameter kMeasureTime{"99", Half::High};
inline constexpr Parameter kInfocus{"99", Half::Low};
inline constexpr Parameter kOutfocus{"9B", Half::Low};
inline constexpr Parameter kTouchSensitivity{"9C", Half::High};
inline constexpr Parameter kMeasureDelay{"9D", Half::Low};
inline constexpr Parameter kNoiseLevel{"9F", Half::High};
inline constexpr Parameter kAccLevel{"9F", Half::Low};

// The right-click time travels in units of 8 ms.
inline constexpr std::int32_t kRightClickUnitMs = 8;
inline constexpr std::int32_t kMinRightClickMs = 400;
inline constexpr std::int32_t kMaxRightClickMs = 1272; // 0x9F units
inline constexpr std::uint8_t kMaxSensitivityLevel = 4;

// Failure values of the getters whose 0 would be a valid reading: a controller that does not
// answer. A handle that names no controller gives 0 from every getter, as from every other
// per-controller export, without a device call.
inline constexpr std::uint8_t kNoByte = 255;
inline constexpr std::int32_t kNoAccLevel = -1;

struct GetterRules {
    bool preamble = true;
    ExchangeRules exchange = kFourAttemptRules;
};

inline constexpr GetterRules kStandardGetter{true, kFourAttemptRules};
inline constexpr GetterRules kRightClickGetter{true, kThreeAttemptRules};
// The acceleration level is read without the "Z" preamble.
inline constexpr GetterRules kAccGetter{false, kFourAttemptRules};

// How a setter makes the controller take over the new word.
enum class TakeOver : std::uint8_t {
    // "PL" written once; 50 ms later the reply queue is flushed; no reply is judged.
    StoreOnce,
    // "R" exchanged like the set-parameter command: pending length, then the reply test.
    ResetPending,
    // "R" with the byte count that was pending after the set-parameter exchange read back,
    // and judged from its start: the first three bytes must be SOH '0' CR.
    ResetHead,
};

struct SetterRules {
    bool preamble = true;
    ExchangeRules exchange = kFourAttemptRules;             // attempts and buffer of every exchange
    ReplyTest acknowledgement = ReplyTest::Acknowledgement; // set-parameter and "R" replies
    TakeOver takeOver = TakeOver::ResetPending;
};

inline constexpr SetterRules kRightClickSetter{true, kThreeAttemptRules, ReplyTest::Acknowledgement,
                                               TakeOver::StoreOnce};
inline constexpr SetterRules kStandardSetter{true, kFourAttemptRules, ReplyTest::Acknowledgement,
                                             TakeOver::ResetPending};
// Out-focus replies are judged by their status character only.
inline constexpr SetterRules kOutfocusSetter{
    true, kFourAttemptRules, ReplyTest::ShortAcknowledgement, TakeOver::ResetPending};
inline constexpr SetterRules kSensitivitySetter{true, kThreeAttemptRules,
                                                ReplyTest::Acknowledgement, TakeOver::ResetHead};
// Noise and acceleration level: no preamble.
inline constexpr SetterRules kLevelSetter{false, kThreeAttemptRules, ReplyTest::Acknowledgement,
                                          TakeOver::ResetHead};

std::vector<std::uint8_t> getParameterFrame(const Parameter& p) {
    return commandFrame(std::string("GP").append(p.address));
}

// One get-parameter sequence: the byte, or nothing after the last failed attempt.
std::optional<std::uint8_t> readParameter(const Controller& controller, const Parameter& p,
                                          const GetterRules& rules) {
    if (rules.preamble) sendPreamble(controller);
    const ExchangeResult got =
        exchange(controller, getParameterFrame(p), withTest(rules.exchange, ReplyTest::Value));
    if (!got.passed) return std::nullopt;
    return p.half == Half::High ? got.word.first : got.word.second;
}

std::optional<std::uint8_t> readParameter(std::int32_t handle, const Parameter& p,
                                          const GetterRules& rules) {
    const auto controller = resolveHandle(handle);
    if (!controller) return std::nullopt;
    return readParameter(*controller, p, rules);
}

// "R" read back with the count that the set-parameter exchange found pending.
bool resetJudgedFromStart(const Controller& controller, std::uint32_t pendingAfterSet,
                          const ExchangeRules& rules) {
    const auto frame = commandFrame("R");
    std::vector<std::uint8_t> buffer(rules.replyBufferBytes);
    const std::size_t ask = std::min<std::size_t>(pendingAfterSet, buffer.size());
    for (int attempt = 0; attempt < rules.attempts; ++attempt) {
        flushReadBuffer(controller);
        writeBuffer(controller, frame);
        sleepFor(kReplyWait);
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        std::uint32_t got = 0;
        if (ask > 0) got = readBuffer(controller, std::span(buffer.data(), ask));
        const std::span<const std::uint8_t> reply(buffer.data(), std::min<std::size_t>(got, ask));
        if (protocol::startsWithAcknowledge(reply)) return true;
    }
    return false;
}

// Read the word, replace one byte, write the word back, make the controller take it over.
std::int32_t writeParameter(const Controller& controller, const Parameter& p, std::uint8_t value,
                            const SetterRules& rules) {
    if (rules.preamble) sendPreamble(controller);
    const ExchangeResult current =
        exchange(controller, getParameterFrame(p), withTest(rules.exchange, ReplyTest::Value));
    if (!current.passed) return 0;

    const std::string newDigits = protocol::hexText(value); // "%02X", two digits for a byte
    const std::string high = p.half == Half::High ? newDigits : current.word.firstText();
    const std::string low = p.half == Half::Low ? newDigits : current.word.secondText();
    const auto setFrame =
        commandFrame(std::string("SP").append(p.address).append(high).append(low));
    const ExchangeResult set =
        exchange(controller, setFrame, withTest(rules.exchange, rules.acknowledgement));
    if (!set.passed) return 0;

    switch (rules.takeOver) {
    case TakeOver::StoreOnce:
        writeBuffer(controller, commandFrame("PL"));
        sleepFor(kReplyWait);
        flushReadBuffer(controller);
        return 1;
    case TakeOver::ResetPending:
        return exchange(controller, commandFrame("R"),
                        withTest(rules.exchange, rules.acknowledgement))
                       .passed
                   ? 1
                   : 0;
    case TakeOver::ResetHead:
        return resetJudgedFromStart(controller, set.pendingLength, rules.exchange) ? 1 : 0;
    }
    return 0;
}

std::int32_t writeParameter(std::int32_t handle, const Parameter& p, std::uint8_t value,
                            const SetterRules& rules) {
    const auto controller = resolveHandle(handle);
    if (!controller) return 0;
    return writeParameter(*controller, p, value, rules);
}

// The byte setters that take a 32-bit value accept 0..255 only: a larger value has no
// two-digit form, and sending part of its digits would store a byte the caller never asked
// for while reporting success.
std::int32_t writeByteParameter(std::int32_t handle, const Parameter& p, std::int32_t value,
                                const SetterRules& rules) {
    if (value < 0 || value > 0xFF) return 0;
    return writeParameter(handle, p, static_cast<std::uint8_t>(value), rules);
}

// ---- report mode -----------------------------------------------------------------------------

inline constexpr int kStoreAttempts = 4;
inline constexpr std::uint32_t kStoreReplyBytes = 3;

// "PL" after the mode command: flush, write, 50 ms, read 3 bytes, short acknowledgement.
bool storeAfterModeChange(const Controller& controller) {
    const auto frame = commandFrame("PL");
    std::array<std::uint8_t, kStoreReplyBytes> reply{};
    for (int attempt = 0; attempt < kStoreAttempts; ++attempt) {
        flushReadBuffer(controller);
        writeBuffer(controller, frame);
        sleepFor(kReplyWait);
        reply.fill(0);
        const std::uint32_t got = readBuffer(controller, reply);
        const std::span<const std::uint8_t> read(reply.data(),
                                                 std::min<std::size_t>(got, reply.size()));
        if (protocol::tailShortAcknowledgement(read)) return true;
    }
    return false;
}

// The controller first (its report command, then "PL"), the driver second.
std::int32_t setReportMode(const Controller& controller, std::uint8_t mode) {
    const auto modeFrame = commandFrame(mode == kPointReportMode ? "MP" : "MS");
    if (!exchange(controller, modeFrame,
                  withTest(kFourAttemptRules, ReplyTest::ShortAcknowledgement))
             .passed)
        return 0;
    if (!storeAfterModeChange(controller)) return 0;
    sleepFor(kReplyWait);
    const std::array<std::uint8_t, 1> payload{mode};
    return acknowledgedRequest(controller, IOCTL_RS232_SET_REPORT_MODE, payload) ? 1 : 0;
}

} // namespace
} // namespace kvr::tsapi

using namespace kvr::tsapi;

extern "C" {

// ---- driver settings -------------------------------------------------------------------------

int32_t SetRotation(int32_t handle, uint8_t rotation) {
    return guarded<int32_t>(0, [&] {
        const std::array<std::uint8_t, 1> payload{rotation};
        return acknowledgedSetting(handle, IOCTL_RS232_SET_ROTATION, payload);
    });
}

uint8_t GetRotation(int32_t handle) {
    return guarded<uint8_t>(0, [&]() -> std::uint8_t {
        const auto reply = settingReply(handle, IOCTL_RS232_GET_ROTATION, {}, 1);
        return reply && !reply->empty() ? reply->front() : 0;
    });
}

int32_t EnableDownSound(int32_t handle, int32_t flag) {
    return guarded<int32_t>(0, [&] {
        const std::array<std::uint8_t, 1> payload{flagByte(flag)};
        return acknowledgedSetting(handle, IOCTL_RS232_SET_DOWN_SOUND, payload);
    });
}

int32_t EnableUpSound(int32_t handle, int32_t flag) {
    return guarded<int32_t>(0, [&] {
        const std::array<std::uint8_t, 1> payload{flagByte(flag)};
        return acknowledgedSetting(handle, IOCTL_RS232_SET_UP_SOUND, payload);
    });
}

int32_t GetDownSoundStatus(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto reply =
            settingReply(handle, IOCTL_RS232_GET_SOUND_STATUS, {}, kSoundStatusBytes);
        return reply && reply->size() == kSoundStatusBytes && (*reply)[0] == 1 ? 1 : 0;
    });
}

int32_t GetUpSoundStatus(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto reply =
            settingReply(handle, IOCTL_RS232_GET_SOUND_STATUS, {}, kSoundStatusBytes);
        return reply && reply->size() == kSoundStatusBytes && (*reply)[1] == 1 ? 1 : 0;
    });
}

int32_t SetReportMode(int32_t handle, uint8_t mode) {
    return guarded<int32_t>(0, [&] {
        const auto controller = resolveHandle(handle);
        return controller ? setReportMode(*controller, mode) : 0;
    });
}

uint8_t GetReportMode(int32_t handle) {
    return guarded<uint8_t>(0, [&]() -> std::uint8_t {
        const auto reply = settingReply(handle, IOCTL_RS232_GET_REPORT_MODE, {}, 1);
        if (!reply) return 0;
        return reply->size() == 1 ? reply->front() : kFallbackReportMode;
    });
}

int32_t EnableRightClick(int32_t handle, uint8_t flag) {
    return guarded<int32_t>(0, [&] {
        const std::array<std::uint8_t, 1> payload{flag};
        return acknowledgedSetting(handle, IOCTL_RS232_SET_RIGHT_CLICK, payload);
    });
}

int32_t GetRightClickEnabled(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto reply =
            settingReply(handle, IOCTL_RS232_GET_RIGHT_CLICK, {}, kRightClickReplyBytes);
        return reply && reply->size() == kRightClickReplyBytes && (*reply)[kRightClickSwitchAt] == 1
                   ? 1
                   : 0;
    });
}

int32_t EnableDoubleClick(int32_t handle, int32_t flag) {
    return guarded<int32_t>(0, [&] {
        const std::array<std::uint8_t, 1> payload{flagByte(flag)};
        return acknowledgedSetting(handle, IOCTL_RS232_SET_DOUBLE_CLICK, payload);
    });
}

int32_t GetDoubleClickEnabled(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto reply = settingReply(handle, IOCTL_RS232_GET_DOUBLE_CLICK, {}, 1);
        return reply && reply->size() == 1 && reply->front() == 1 ? 1 : 0;
    });
}

int32_t SetExpandValue(int32_t handle, uint8_t side, uint32_t value) {
    return guarded<int32_t>(0, [&] {
        // A value above 4095 is refused whole: its low 16 bits alone could pass, and the
        // driver would then keep them while its registry value got the whole number.
        if (side < kFirstSide || side > kLastSide || value > kMaxExpandValue) return 0;
        std::vector<std::uint8_t> payload{side};
        appendDword(payload, value);
        return acknowledgedSetting(handle, IOCTL_RS232_SET_EXPAND, payload);
    });
}

uint16_t GetExpandValue(int32_t handle, uint8_t side) {
    return guarded<uint16_t>(0, [&]() -> std::uint16_t {
        if (side < kFirstSide || side > kLastSide) return 0;
        const std::array<std::uint8_t, 1> payload{side};
        const auto reply = settingReply(handle, IOCTL_RS232_GET_EXPAND, payload, kExpandReplyBytes);
        if (!reply || reply->size() != kExpandReplyBytes) return 0;
        return static_cast<std::uint16_t>(dwordAt(*reply, 0) & 0xFFFF);
    });
}

// ---- desktop double-click settings (for every pointing device; the handle is not used) -------

int32_t SetDoubleClickSpeed(int32_t, uint8_t level) {
    return guarded<int32_t>(0, [&] {
        if (level < 1 || level > kMaxSpeedLevel) return 0;
        return kvr::desktop::setDoubleClickTimeMs(level * kMsPerSpeedLevel) ? 1 : 0;
    });
}

int32_t GetDoubleClickSpeed(int32_t) {
    return guarded<int32_t>(0, [] {
        return static_cast<int32_t>(kvr::desktop::doubleClickTimeMs() / kMsPerSpeedLevel);
    });
}

int32_t SetDoubleClickArea(int32_t, uint8_t level) {
    return guarded<int32_t>(0, [&] {
        if (level < 1 || level > kMaxAreaLevel) return 0;
        const std::uint32_t px = level * kPixelsPerAreaLevel;
        const bool width = kvr::desktop::setDoubleClickWidthPx(px);
        const bool height = kvr::desktop::setDoubleClickHeightPx(px);
        return width && height ? 1 : 0;
    });
}

int32_t GetDoubleClickArea(int32_t) {
    return guarded<int32_t>(0, [] {
        // In 64 bits: two large stored values must not wrap their sum.
        const std::uint64_t sum =
            std::uint64_t{kvr::desktop::doubleClickWidthPx()} + kvr::desktop::doubleClickHeightPx();
        return static_cast<int32_t>(sum / 2 / kPixelsPerAreaLevel);
    });
}

// ---- controller parameters -------------------------------------------------------------------

int32_t GetRightClickTime(int32_t handle) {
    return guarded<int32_t>(0, [&] {
        const auto units = readParameter(handle, kRightClickTime, kRightClickGetter);
        return units ? *units * kRightClickUnitMs : 0;
    });
}

int32_t SetRightClickTime(int32_t handle, int32_t timeMs) {
    return guarded<int32_t>(0, [&] {
        if (timeMs < kMinRightClickMs || timeMs > kMaxRightClickMs) return 0;
        const auto units = static_cast<std::uint8_t>(timeMs / kRightClickUnitMs);
        return writeParameter(handle, kRightClickTime, units, kRightClickSetter);
    });
}

int32_t GetMeasureTime(int32_t handle) {
    return guarded<int32_t>(
        0, [&] { return readParameter(handle, kMeasureTime, kStandardGetter).value_or(0); });
}

int32_t SetMeasureTime(int32_t handle, int32_t value) {
    return guarded<int32_t>(
        0, [&] { return writeByteParameter(handle, kMeasureTime, value, kStandardSetter); });
}

int32_t GetInfocus(int32_t handle) {
    return guarded<int32_t>(
        0, [&] { return readParameter(handle, kInfocus, kStandardGetter).value_or(0); });
}

int32_t SetInfocus(int32_t handle, int32_t value) {
    return guarded<int32_t>(
        0, [&] { return writeByteParameter(handle, kInfocus, value, kStandardSetter); });
}

int32_t GetMeasureDelay(int32_t handle) {
    return guarded<int32_t>(
        0, [&] { return readParameter(handle, kMeasureDelay, kStandardGetter).value_or(0); });
}

int32_t SetMeasureDelay(int32_t handle, int32_t value) {
    return guarded<int32_t>(
        0, [&] { return writeByteParameter(handle, kMeasureDelay, value, kStandardSetter); });
}

int32_t GetOutfocus(int32_t handle) {
    return guarded<int32_t>(
        0, [&] { return readParameter(handle, kOutfocus, kStandardGetter).value_or(0); });
}

int32_t SetOutfocus(int32_t handle, int32_t value) {
    return guarded<int32_t>(
        0, [&] { return writeByteParameter(handle, kOutfocus, value, kOutfocusSetter); });
}

uint8_t GetTouchSensitivity(int32_t handle) {
    return guarded<uint8_t>(kNoByte, [&]() -> uint8_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        return readParameter(*controller, kTouchSensitivity, kStandardGetter).value_or(kNoByte);
    });
}

int32_t SetTouchSensitivity(int32_t handle, uint8_t level) {
    return guarded<int32_t>(0, [&] {
        if (level > kMaxSensitivityLevel) return 0;
        return writeParameter(handle, kTouchSensitivity, level, kSensitivitySetter);
    });
}

uint8_t GetNoiseLevel(int32_t handle) {
    return guarded<uint8_t>(kNoByte, [&]() -> uint8_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        return readParameter(*controller, kNoiseLevel, kStandardGetter).value_or(kNoByte);
    });
}

int32_t SetNoiseLevel(int32_t handle, uint8_t value) {
    return guarded<int32_t>(
        0, [&] { return writeParameter(handle, kNoiseLevel, value, kLevelSetter); });
}

int32_t GetAccLevel(int32_t handle) {
    return guarded<int32_t>(kNoAccLevel, [&]() -> int32_t {
        const auto controller = resolveHandle(handle);
        if (!controller) return 0;
        const auto level = readParameter(*controller, kAccLevel, kAccGetter);
        return level ? static_cast<int32_t>(*level) : kNoAccLevel;
    });
}

int32_t SetAccLevel(int32_t handle, uint8_t value) {
    return guarded<int32_t>(0,
                            [&] { return writeParameter(handle, kAccLevel, value, kLevelSetter); });
}

} // extern "C"
