#include "protocol/frame.h"

#include <cstdio>
#include <initializer_list>

namespace kvr::protocol {

namespace {

// A refused build keeps the old bytes: only the length says that nothing valid is there.
bool refuse(CommandFrame& frame) {
    frame.CommandLength = 0;
    return false;
}

// Writes SOH, the pieces in order, CR. The caller has checked that they fit.
bool assemble(CommandFrame& frame, std::initializer_list<std::string_view> pieces) {
    std::size_t at = 0;
    frame.CommandBuffer[at++] = kStartOfHeader;
    for (std::string_view piece : pieces) {
        for (char c : piece)
            frame.CommandBuffer[at++] = static_cast<std::uint8_t>(c);
    }
    frame.CommandBuffer[at++] = kCarriageReturn;
    frame.CommandLength = static_cast<std::uint16_t>(at);
    return true;
}

} // namespace

bool BuildCommand(CommandFrame& frame, std::string_view text) {
    if (text.size() > kMaxCommandText) return refuse(frame);
    return assemble(frame, {text});
}

bool BuildGetParameter(CommandFrame& frame, std::string_view address) {
    if (address.size() != kAddressDigits) return refuse(frame);
    return assemble(frame, {"GP", address});
}

bool BuildSetParameter(CommandFrame& frame, std::string_view address, std::string_view firstByte,
                       std::string_view secondByte) {
    if (address.size() != kAddressDigits || firstByte.size() != kByteDigits ||
        secondByte.size() != kByteDigits) {
        return refuse(frame);
    }
    return assemble(frame, {"SP", address, firstByte, secondByte});
}

CommandFrame& programCommand() {
    static CommandFrame frame;
    return frame;
}

bool BuildCommand(std::string_view text) {
    return BuildCommand(programCommand(), text);
}

bool BuildGetParameter(std::string_view address) {
    return BuildGetParameter(programCommand(), address);
}

bool BuildSetParameter(std::string_view address, std::string_view firstByte,
                       std::string_view secondByte) {
    return BuildSetParameter(programCommand(), address, firstByte, secondByte);
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value));
    return text;
}

std::string hexWordText(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
    return text;
}

} // namespace kvr::protocol
