#include "panel/exchange.h"

#include "protocol/frame.h"
#include "protocol/replies.h"
#include "protocol/wait.h"
#include "tsapi/tsapi.h"

namespace kvr::panel {

ControllerLink::ControllerLink(Session& session) : session_(session) {
    controller_ = gui::libraryCall(
        [name = session_.selectedName] { return protocol::ControllerSession(name); });
    handle_ = controller_.handle();
    session_.lastHandle = handle_;
}

ControllerLink::~ControllerLink() {
    close();
}

void ControllerLink::close() {
    if (!controller_.isOpen()) return;
    handle_ = -1;
    gui::libraryCall([this] { controller_.close(); });
}

std::vector<std::uint8_t>
ControllerLink::exchangeProgramCommand(std::uint16_t waitMs, std::size_t replyBytes, Flush flush) {
    // The frame is taken from the program's command frame at once, before anything else can
    // run: the exchange carries its own copy to the worker.
    const protocol::CommandFrame frame = protocol::programCommand();
    const protocol::ExchangeReply reply =
        gui::libraryCall([&] { return controller_.exchange(frame, waitMs, replyBytes, flush); });
    session_.lastWriteStatus = static_cast<std::uint16_t>(reply.written);
    return reply.bytes;
}

std::vector<std::uint8_t> ControllerLink::exchange(std::string_view text, std::uint16_t waitMs,
                                                   std::size_t replyBytes, Flush flush) {
    protocol::BuildCommand(text);
    return exchangeProgramCommand(waitMs, replyBytes, flush);
}

std::vector<std::uint8_t> ControllerLink::exchangeGetParameter(std::string_view address,
                                                               std::uint16_t waitMs, Flush flush) {
    protocol::BuildGetParameter(address);
    return exchangeProgramCommand(waitMs, protocol::kReplyReadSize, flush);
}

std::vector<std::uint8_t>
ControllerLink::exchangeSetParameter(std::string_view address, std::string_view firstByte,
                                     std::string_view secondByte, std::uint16_t waitMs,
                                     std::size_t replyBytes, Flush flush) {
    protocol::BuildSetParameter(address, firstByte, secondByte);
    return exchangeProgramCommand(waitMs, replyBytes, flush);
}

bool ControllerLink::setReportMode(std::uint8_t mode) {
    return onHandle([mode](std::int32_t h) { return SetReportMode(h, mode); }) != 0;
}

void ControllerLink::wait(std::uint16_t milliseconds) {
    protocol::WaitMilliseconds(milliseconds);
}

} // namespace kvr::panel
