#include "panel/exchange.h"

#include "panel/library.h"
#include "protocol/frame.h"
#include "protocol/wait.h"
#include "tsapi/tsapi.h"

namespace kvr::panel {

ControllerLink::ControllerLink(Session& session) : session_(session) {
    handle_ = lib::call([&] { return OpenController(session_.selectedName.c_str()); });
    session_.lastHandle = handle_;
}

ControllerLink::~ControllerLink() {
    close();
}

void ControllerLink::close() {
    if (handle_ < 0) return;
    const std::int32_t handle = handle_;
    handle_ = -1;
    lib::call([&] { return CloseController(handle); });
}

void ControllerLink::flush() {
    lib::call([&] { return FlushReadBuffer(handle_); });
}

std::uint16_t ControllerLink::writeCommandFrame() {
    // Written at once: no wait (and so no other handler) between building and sending.
    const auto& frame = protocol::programCommand();
    const std::int32_t result = lib::call(
        [&] { return WriteBuffer(handle_, frame.CommandBuffer.data(), frame.CommandLength); });
    session_.lastWriteStatus = static_cast<std::uint16_t>(result);
    return session_.lastWriteStatus;
}

std::uint16_t ControllerLink::send(std::string_view text) {
    protocol::BuildCommand(text);
    return writeCommandFrame();
}

std::uint16_t ControllerLink::sendGetParameter(std::string_view address) {
    protocol::BuildGetParameter(address);
    return writeCommandFrame();
}

std::uint16_t ControllerLink::sendSetParameter(std::string_view address, std::string_view firstByte,
                                               std::string_view secondByte) {
    protocol::BuildSetParameter(address, firstByte, secondByte);
    return writeCommandFrame();
}

std::vector<std::uint8_t> ControllerLink::read(std::size_t count) {
    std::vector<std::uint8_t> reply(count);
    const std::uint32_t got = lib::call([&] {
        return ReadBuffer(handle_, reply.data(), static_cast<std::uint32_t>(reply.size()));
    });
    reply.resize(std::min<std::size_t>(got, count));
    return reply;
}

void ControllerLink::wait(std::uint16_t milliseconds) {
    protocol::WaitMilliseconds(milliseconds);
}

bool ControllerLink::setReportMode(std::uint8_t mode) {
    const std::int32_t handle = handle_;
    return lib::aside([=] { return SetReportMode(handle, mode); }) != 0;
}

} // namespace kvr::panel
