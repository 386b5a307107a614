#pragma once
// Private to kvr_ipc: the frame headers both ends agree on (see control_device.h) and the
// socket helpers they share.

#include "platform/common/unique_fd.h"
#include "platform/ipc/control_device.h"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace kvr::ipc::wire {

struct RequestHeader {
    std::uint32_t code;
    std::uint32_t inLength;
    std::uint32_t outLength;
};
static_assert(sizeof(RequestHeader) == kRequestHeaderBytes);

struct ReplyHeader {
    std::uint32_t status;
    std::uint32_t information;
};
static_assert(sizeof(ReplyHeader) == kReplyHeaderBytes);

// The device name without its "\\.\" prefix, or nothing when it is not a plain name.
std::optional<std::string> bareName(std::string_view name);

// The folder that holds the control sockets ($KVR_RUNTIME_DIR/dev). The server creates it
// when missing; a client only looks.
std::string deviceDir(bool create = false);

// A connected SOCK_SEQPACKET socket to `path`; invalid on failure (errno set).
UniqueFd connectTo(const std::string& path);

} // namespace kvr::ipc::wire
