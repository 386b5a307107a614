#include "tsapi/internal.h"

#include "platform/clock/clock.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kvr::tsapi {

// ---- controllers and handles -----------------------------------------------------------------

std::optional<Controller> resolveHandle(std::int32_t handle) noexcept {
    if (handle >= kSerialHandleBase && handle < kSerialHandleBase + kSerialUnits)
        return Controller{DriverKind::Serial,
                          static_cast<std::uint8_t>(handle - kSerialHandleBase)};
    if (handle >= kUsbHandleBase && handle < kUsbHandleBase + kUsbUnits)
        return Controller{DriverKind::Usb, static_cast<std::uint8_t>(handle - kUsbHandleBase)};
    return std::nullopt;
}

std::string_view deviceName(DriverKind kind) noexcept {
    return kind == DriverKind::Serial ? "\\\\.\\KvrRs232D" : "\\\\.\\KvrUsbMgr";
}

ControllerTable& controllerTable() noexcept {
    static ControllerTable table;
    return table;
}

DeviceState& deviceState(DriverKind kind) noexcept {
    static DeviceState serial;
    static DeviceState usb;
    return kind == DriverKind::Serial ? serial : usb;
}

std::optional<ipc::ControlDevice> openControlDevice(DriverKind kind) {
    return ipc::ControlDevice::open(deviceName(kind));
}

// ---- device calls ----------------------------------------------------------------------------

bool deviceIoControl(ipc::ControlDevice& device, std::uint32_t code, const void* in,
                     std::uint32_t inLength, void* out, std::uint32_t outLength,
                     std::uint32_t* returned, int eventFd) {
    std::uint32_t got = 0;
    const bool ok = device.ioctl(code, in, inLength, out, outLength, &got, eventFd);
    if (returned) *returned = got;
    return ok;
}

bool deviceIoControl(DriverKind kind, std::uint32_t code, const void* in, std::uint32_t inLength,
                     void* out, std::uint32_t outLength, std::uint32_t* returned, int eventFd) {
    if (returned) *returned = 0;
    DeviceState& state = deviceState(kind);
    if (!state.device || !state.device->isOpen()) return false;
    return deviceIoControl(*state.device, code, in, inLength, out, outLength, returned, eventFd);
}

bool controllerRequest(const Controller& controller, std::uint32_t code,
                       std::span<const std::uint8_t> payload, void* out, std::uint32_t outLength,
                       std::uint32_t* returned, int eventFd) {
    std::vector<std::uint8_t> request;
    request.reserve(payload.size() + 1);
    request.push_back(controller.unit);
    request.insert(request.end(), payload.begin(), payload.end());
    return deviceIoControl(controller.kind, code, request.data(),
                           static_cast<std::uint32_t>(request.size()), out, outLength, returned,
                           eventFd);
}

bool acknowledgedRequest(const Controller& controller, std::uint32_t code,
                         std::span<const std::uint8_t> payload, int eventFd) {
    std::uint8_t reply = 0;
    std::uint32_t returned = 0;
    controllerRequest(controller, code, payload, &reply, 1, &returned, eventFd);
    return returned == 1 && reply == 1;
}

std::vector<std::uint8_t> replyRequest(const Controller& controller, std::uint32_t code,
                                       std::span<const std::uint8_t> payload,
                                       std::uint32_t replyLength) {
    std::vector<std::uint8_t> reply(replyLength);
    std::uint32_t returned = 0;
    if (!controllerRequest(controller, code, payload, reply.data(), replyLength, &returned))
        returned = 0;
    reply.resize(std::min<std::size_t>(returned, reply.size()));
    return reply;
}

void appendDword(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t dwordAt(std::span<const std::uint8_t> bytes, std::size_t at) noexcept {
    if (at > bytes.size() || bytes.size() - at < 4) return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

// ---- raw channel -----------------------------------------------------------------------------

bool writeBuffer(const Controller& controller, std::span<const std::uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > kMaxWriteBytes) return false;
    return controllerRequest(controller, IOCTL_RS232_WRITE_BUFFER, bytes, nullptr, 0, nullptr);
}

std::uint32_t readBuffer(const Controller& controller, std::span<std::uint8_t> out) {
    if (out.empty()) return 0;
    // The drivers deliver at most 512 bytes per call and refuse a larger reply buffer; asking
    // for no more than that lets a caller with a large buffer still get what is waiting.
    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(out.size(), kMaxReadBytes));
    std::uint32_t returned = 0;
    if (!controllerRequest(controller, IOCTL_RS232_READ_BUFFER, {}, out.data(), length, &returned))
        return 0;
    return returned;
}

std::uint32_t readLength(const Controller& controller) {
    const auto reply = replyRequest(controller, IOCTL_RS232_READ_LENGTH, {}, 4);
    return reply.size() == 4 ? dwordAt(reply, 0) : 0;
}

bool flushReadBuffer(const Controller& controller) {
    return controllerRequest(controller, IOCTL_RS232_FLUSH_READ_BUFFER, {}, nullptr, 0, nullptr);
}

// ---- command exchange ------------------------------------------------------------------------

std::vector<std::uint8_t> commandFrame(std::string_view text) {
    std::vector<std::uint8_t> frame(text.size() + 2);
    frame.front() = 0x01;
    std::copy(text.begin(), text.end(), frame.begin() + 1);
    frame.back() = 0x0D;
    return frame;
}

void sleepFor(std::chrono::milliseconds duration) {
    clock::sleepFor(duration);
}

void sendPreamble(const Controller& controller) {
    writeBuffer(controller, commandFrame("Z"));
    sleepFor(kPreambleWait);
}

bool replyPasses(ReplyTest test, std::span<const std::uint8_t> reply,
                 protocol::ParameterWord* word) {
    switch (test) {
    case ReplyTest::Value: {
        const auto value = protocol::tailValueReply(reply);
        if (!value) return false;
        if (word) *word = *value;
        return true;
    }
    case ReplyTest::Acknowledgement:
        return protocol::tailAcknowledgement(reply);
    case ReplyTest::ShortAcknowledgement:
        return protocol::tailShortAcknowledgement(reply);
    }
    return false;
}

ExchangeResult exchange(const Controller& controller, std::span<const std::uint8_t> frame,
                        const ExchangeRules& rules) {
    ExchangeResult result;
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(rules.replyBufferBytes, 1));
    for (int attempt = 0; attempt < rules.attempts; ++attempt) {
        result.attemptsMade = attempt + 1;
        result.reply.clear();
        flushReadBuffer(controller);
        writeBuffer(controller, frame);
        sleepFor(kReplyWait);
        result.pendingLength = readLength(controller);
        if (rules.skipOverfullQueue && result.pendingLength >= kOverfullQueueBytes) {
            flushReadBuffer(controller);
            continue;
        }
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        const std::size_t ask = std::min<std::size_t>(result.pendingLength, buffer.size());
        std::uint32_t got = 0;
        if (ask > 0) got = readBuffer(controller, std::span(buffer.data(), ask));
        result.reply.assign(buffer.begin(), buffer.begin() + std::min<std::size_t>(got, ask));
        if (replyPasses(rules.test, result.reply, &result.word)) {
            result.passed = true;
            return result;
        }
    }
    return result;
}

// ---- texts and arguments ---------------------------------------------------------------------

int copyTextCharacters(std::string_view text, char* buffer, std::uint8_t length) noexcept {
    if (!buffer || text.size() > length) return 0;
    std::memcpy(buffer, text.data(), text.size());
    return 1;
}

std::int32_t handleFromPointer(const void* value) noexcept {
    // A value that does not fit 32 bits names no controller (rather than its low half one).
    const auto v = reinterpret_cast<std::intptr_t>(value);
    return v >= INT32_MIN && v <= INT32_MAX ? static_cast<std::int32_t>(v) : kInvalidHandle;
}

int descriptorFromPointer(const void* value) noexcept {
    const auto v = reinterpret_cast<std::intptr_t>(value);
    return v >= 0 && v <= 0x7FFFFFFF ? static_cast<int>(v) : -1;
}

} // namespace kvr::tsapi
