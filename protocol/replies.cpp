#include "protocol/replies.h"

#include "protocol/frame.h"

#include <limits>

namespace kvr::protocol {

namespace {

constexpr int kDigitBase = 16;

// Library reading of one character; -1 for a character that ends the number.
int libraryDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

ParameterWord wordFrom(const std::uint8_t* digits, std::uint8_t first, std::uint8_t second) {
    ParameterWord w;
    w.first = first;
    w.second = second;
    for (std::size_t i = 0; i < w.digits.size(); ++i)
        w.digits[i] = static_cast<char>(digits[i]);
    return w;
}

bool isDecimalDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::uint8_t> panelHexDigit(std::uint8_t c) {
    // The panel's own arithmetic: above '9' subtract 7 first, then 48. It maps 'A'..'F' to
    // 10..15 and, as a side effect, ':'..'@' to 3..9; everything else falls outside 0..15.
    int value = (c > '9' ? c - 7 : c) - '0';
    if (value < 0 || value >= kDigitBase) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::optional<std::uint8_t> panelHexByte(std::uint8_t high, std::uint8_t low) {
    auto h = panelHexDigit(high);
    auto l = panelHexDigit(low);
    if (!h || !l) return std::nullopt;
    return static_cast<std::uint8_t>(*h * kDigitBase + *l);
}

std::uint8_t libraryHexByte(std::uint8_t high, std::uint8_t low) {
    int h = libraryDigit(high);
    if (h < 0) return 0;
    int l = libraryDigit(low);
    if (l < 0) return static_cast<std::uint8_t>(h);
    return static_cast<std::uint8_t>(h * kDigitBase + l);
}

std::optional<std::uint8_t> readHexByte(HexReading reading, std::uint8_t high, std::uint8_t low) {
    if (reading == HexReading::Library) return libraryHexByte(high, low);
    return panelHexByte(high, low);
}

ParameterReply judgeParameterReply(Bytes reply, HexReading reading) {
    ParameterReply result;
    if (reply.size() != kParameterReplyLength) return result;
    if (reply[0] != kStartOfHeader || reply[5] != kCarriageReturn) {
        result.check = ReplyCheck::BadFraming;
        return result;
    }
    auto first = readHexByte(reading, reply[1], reply[2]);
    auto second = readHexByte(reading, reply[3], reply[4]);
    if (!first || !second) {
        result.check = ReplyCheck::BadDigits;
        return result;
    }
    result.check = ReplyCheck::Valid;
    result.value = wordFrom(&reply[1], *first, *second);
    return result;
}

bool judgeAcknowledge(Bytes reply) {
    return reply.size() == kAcknowledgeLength && reply[1] == kStatusDone;
}

bool judgeAcknowledgeStatus(Bytes reply) {
    return reply.size() >= kAcknowledgeLength && reply[1] == kStatusDone;
}

bool startsWithAcknowledge(Bytes reply) {
    return reply.size() >= kAcknowledgeLength && reply[0] == kStartOfHeader &&
           reply[1] == kStatusDone && reply[2] == kCarriageReturn;
}

std::optional<std::string> judgeUnitType(Bytes reply) {
    if (reply.size() != kUnitTypeReplyLength) return std::nullopt;
    return std::string(reply.begin() + 1, reply.begin() + 1 + kUnitTypeLength);
}

bool isFamilyUnitType(std::string_view unitType) {
    return unitType == kFamilyUnitType;
}

bool probeAnswered(Bytes reply) {
    return reply.size() > kProbeReplyMinimum;
}

std::string identityText(Bytes reply) {
    std::string text;
    if (reply.size() < kMinIdentityReplyLength) return text;
    // Positions 1 .. count-2: between SOH and the last byte, which is the CR of a whole reply.
    for (std::size_t i = 1; i + 1 < reply.size(); ++i) {
        if (reply[i] > 31) text.push_back(static_cast<char>(reply[i]));
    }
    return text;
}

std::uint32_t firmwareNumber(std::string_view identityText) {
    if (identityText.empty()) return 0;
    constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t number = 0;
    for (char c : identityText.substr(1)) {
        if (!isDecimalDigit(static_cast<std::uint8_t>(c))) break;
        std::uint32_t digit = static_cast<std::uint32_t>(c - '0');
        if (number > (kMax - digit) / 10) return kMax;
        number = number * 10 + digit;
    }
    return number;
}

int extensionLevel(Bytes reply) {
    if (reply.size() != kExtensionReplyLength) return 0;
    int level = 0;
    for (std::size_t i = 1; i <= 4; ++i) {
        // A garbled reply is no extension level: letters would otherwise add thousands.
        if (!isDecimalDigit(reply[i])) return 0;
        level = level * 10 + (reply[i] - '0');
    }
    return level;
}

bool judgeCapability(Bytes reply) {
    return reply.size() == kCapabilityReplyLength &&
           reply[kCapabilityFormatIndex] == kCapableFormat;
}

std::optional<ParameterWord> tailValueReply(Bytes reply, HexReading reading) {
    const std::size_t n = reply.size();
    if (n < kParameterReplyLength) return std::nullopt;
    if (reply[n - 6] != kStartOfHeader || reply[n - 1] != kCarriageReturn) return std::nullopt;
    const std::uint8_t* digits = &reply[n - 5];
    auto first = readHexByte(reading, digits[0], digits[1]);
    auto second = readHexByte(reading, digits[2], digits[3]);
    if (!first || !second) return std::nullopt;
    return wordFrom(digits, *first, *second);
}

bool tailAcknowledgement(Bytes reply) {
    const std::size_t n = reply.size();
    return n >= kAcknowledgeLength && reply[n - 3] == kStartOfHeader &&
           reply[n - 2] == kStatusDone && reply[n - 1] == kCarriageReturn;
}

bool tailShortAcknowledgement(Bytes reply) {
    const std::size_t n = reply.size();
    return n >= kAcknowledgeLength && reply[n - 2] == kStatusDone;
}

} // namespace kvr::protocol
