#include "memtools/pin_definition.h"

#include "protocol/commands.h"
#include "protocol/frame.h"

#include <algorithm>

namespace kvr::memtools {
namespace {

constexpr std::string_view kWiringAddress = "9E";
constexpr std::uint16_t kPinmapWaitMs = 300;
constexpr std::uint16_t kFourWireOffset = 3;
constexpr std::uint16_t kKeepBit3 = 8;
constexpr int kWiringReadTries = 2;

std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::optional<protocol::ParameterWord> readWiringWord(protocol::ControllerSession& controller) {
    protocol::CommandFrame frame;
    protocol::BuildGetParameter(frame, kWiringAddress);
    for (int tries = 0; tries < kWiringReadTries; ++tries) {
        const auto reply = controller.exchange(frame, kPinmapWaitMs, protocol::kReplyReadSize);
        const protocol::ParameterReply r = protocol::judgeParameterReply(reply.bytes);
        if (r.valid()) return r.value;
    }
    return std::nullopt;
}

// One "SP9E" write and its wait (no flush, no read); the library's result.
bool writeWiringWord(protocol::ControllerSession& controller, const WiringWord& word) {
    protocol::CommandFrame frame;
    protocol::BuildSetParameter(frame, kWiringAddress, word.first, word.second);
    return controller.exchange(frame, kPinmapWaitMs, 0, protocol::Flush::None).written != 0;
}

} // namespace

std::optional<std::uint16_t> wiringCode(std::string_view sequence, bool fourWire) {
    struct Pair {
        std::string_view a, b;
        std::uint16_t code;
    };
    constexpr std::array<Pair, 3> kCodes = {{
        {"XYXY", "YXYX", 0},
        {"YXXY", "XYYX", 1},
        {"XXYY", "YYXX", 2},
    }};
    for (const Pair& p : kCodes) {
        if (sequence == p.a || sequence == p.b)
            return static_cast<std::uint16_t>(p.code + (fourWire ? kFourWireOffset : 0));
    }
    return std::nullopt;
}

void PinEntry::reset(bool fourWire) {
    fourWire_ = fourWire;
    finished_ = false;
    remaining_.assign(kElectrodeChoices.begin(), kElectrodeChoices.end());
    assignments_.assign(kPinsToAssign, {});
    sequence_.clear();
    pinCounter_ = 1;
    pinLabel_ = "Pin #1";
    code_ = 0;
}

bool PinEntry::assign(std::string_view choice) {
    choice = trimmed(choice);
    const auto it = std::find(remaining_.begin(), remaining_.end(), choice);
    if (finished_ || it == remaining_.end()) return false;
    // The assignment number: 4 minus the choices still offered (0 for the first pin).
    const std::size_t number = kPinsToAssign - remaining_.size();
    assignments_[number] = std::string(choice) + " <----> " + pinLabel_;
    sequence_ += choice.front();
    ++pinCounter_;
    remaining_.erase(it);
    if (pinCounter_ > kPinsToAssign) {
        finishpin();
        return true;
    }
    // Pin 3 of a five-wire sensor is its probe wire: the pins after pin 2 are 4 and 5.
    const int pin = !fourWire_ && pinCounter_ > 2 ? pinCounter_ + 1 : pinCounter_;
    pinLabel_ = "Pin #" + std::to_string(pin);
    return true;
}

void PinEntry::finishpin() {
    finished_ = true;
    code_ = wiringCode(sequence_, fourWire_).value_or(0);
}

std::string PinEntry::codeLabel() const {
    return "[" + std::to_string(code_) + "] " + sequence_;
}

WiringWord wiringWord(const protocol::ParameterWord& current, std::uint16_t code) {
    if (current.digits[3] > '7') code = static_cast<std::uint16_t>(code + kKeepBit3);
    WiringWord w;
    w.first = current.firstText();
    w.second = std::string(1, current.digits[2]) + protocol::hexText(code & 0xF).substr(1);
    return w;
}

PinWriteOutcome writeWiringCode(protocol::ControllerSession& controller, std::uint16_t code) {
    const auto current = readWiringWord(controller);
    if (!current) return PinWriteOutcome::ReadFailed;
    const WiringWord word = wiringWord(*current, code);
    writeWiringWord(controller, word);
    if (!writeWiringWord(controller, word)) {
        writeWiringWord(controller, word);
        if (!writeWiringWord(controller, word)) return PinWriteOutcome::WriteRefused;
    }
    // "RD": flush, write, wait; the controller restarts and its reply is not read.
    const auto restored =
        controller.exchange(protocol::command::kRestoreDefaults, kPinmapWaitMs, 0);
    return restored.written != 0 ? PinWriteOutcome::Written : PinWriteOutcome::RestoreRefused;
}

} // namespace kvr::memtools
