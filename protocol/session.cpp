#include "protocol/session.h"

#include "protocol/wait.h"

#include <algorithm>
#include <string>
#include <utility>

namespace kvr::protocol {

ControllerSession::ControllerSession(std::string_view name, const ControllerCalls& calls)
    : calls_(&calls) {
    const std::string terminated(name);
    handle_ = calls_->open(terminated.c_str());
    if (handle_ < 0) handle_ = -1;
}

ControllerSession::ControllerSession(ControllerSession&& other) noexcept
    : calls_(other.calls_), handle_(std::exchange(other.handle_, -1)) {}

ControllerSession& ControllerSession::operator=(ControllerSession&& other) noexcept {
    if (this != &other) {
        close();
        calls_ = other.calls_;
        handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
}

ControllerSession::~ControllerSession() {
    close();
}

void ControllerSession::close() {
    if (handle_ < 0) return;
    calls_->close(std::exchange(handle_, -1));
}

ExchangeReply ControllerSession::exchange(const CommandFrame& frame, std::uint16_t waitMs,
                                          std::size_t replyBytes, Flush flush) {
    ExchangeReply reply;
    if (!isOpen()) {
        // Nothing to talk to; the exchange still takes its time, as every caller's timing
        // (the pauses of a search, a probe's rhythm) counts on it.
        WaitMilliseconds(waitMs);
        return reply;
    }
    if (flush == Flush::Before) calls_->flush(handle_);
    reply.written = calls_->write(handle_, frame.CommandBuffer.data(), frame.CommandLength);
    if (flush == Flush::After) calls_->flush(handle_);
    WaitMilliseconds(waitMs);
    if (replyBytes == 0) return reply;
    reply.bytes.resize(replyBytes);
    const std::uint32_t got =
        calls_->read(handle_, reply.bytes.data(), static_cast<std::uint32_t>(replyBytes));
    // The count is the library's; never more than the buffer it was given.
    reply.bytes.resize(std::min<std::size_t>(got, replyBytes));
    return reply;
}

std::vector<std::uint8_t> ControllerSession::readPending(std::size_t maxBytes) {
    std::vector<std::uint8_t> bytes(maxBytes);
    const std::uint32_t got =
        isOpen() ? calls_->read(handle_, bytes.data(), static_cast<std::uint32_t>(maxBytes)) : 0;
    bytes.resize(std::min<std::size_t>(got, maxBytes));
    return bytes;
}

ExchangeReply ControllerSession::exchange(std::string_view text, std::uint16_t waitMs,
                                          std::size_t replyBytes, Flush flush) {
    CommandFrame frame;
    BuildCommand(frame, text);
    return exchange(frame, waitMs, replyBytes, flush);
}

} // namespace kvr::protocol
