#pragma once
// A controller opened by name through the touch API library for one piece of work, and the
// exchange every program makes with it:
//
//     [flush]  ->  write the frame  ->  [flush]  ->  wait n ms  ->  [read up to k bytes]
//
// The flush stands before the write (most commands), after it (the sensitivity sequence, whose
// replies come late on a slow line) or nowhere (the probe, the store commands); a read of 0
// bytes reads nothing. The wait is protocol::WaitMilliseconds: a plain sleep where no event
// pump runs (the programs' library worker), the event pump of the thread that owns one.
//
// The session closes the controller (CloseController) when it goes away, on every path. It
// makes its library calls through ControllerCalls, bound to libtsapi by libraryCalls(); tests
// bind them to a scripted controller.

#include "protocol/frame.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::protocol {

// The library calls a session makes (the exports of Part "controller access", same types).
struct ControllerCalls {
    std::int32_t (*open)(const char* name);
    std::int32_t (*close)(std::int32_t handle);
    std::int32_t (*flush)(std::int32_t handle);
    std::int32_t (*write)(std::int32_t handle, const std::uint8_t* bytes, std::uint32_t length);
    std::uint32_t (*read)(std::int32_t handle, std::uint8_t* buffer, std::uint32_t length);
};

// The exports of libtsapi (defined in protocol/library_calls.cpp, target kvr_session).
const ControllerCalls& libraryCalls();

enum class Flush : std::uint8_t {
    Before, // flush, write, wait, read
    After,  // write, flush, wait, read
    None,   // write, wait, read
};

struct ExchangeReply {
    std::int32_t written = 0;        // WriteBuffer's result: non-zero when it took the frame
    std::vector<std::uint8_t> bytes; // what the read returned, at most the bytes asked for
};

class ControllerSession {
public:
    // No controller: not open until one is moved in.
    ControllerSession() = default;
    // OpenController(name); a failed open gives a session that is not open (handle -1), whose
    // exchanges write and read nothing (and still wait).
    explicit ControllerSession(std::string_view name,
                               const ControllerCalls& calls = libraryCalls());
    ControllerSession(ControllerSession&& other) noexcept;
    ControllerSession& operator=(ControllerSession&& other) noexcept;
    ControllerSession(const ControllerSession&) = delete;
    ControllerSession& operator=(const ControllerSession&) = delete;
    ~ControllerSession();

    [[nodiscard]] bool isOpen() const { return handle_ >= 0; }
    [[nodiscard]] std::int32_t handle() const { return handle_; }
    // CloseController now (nothing when closed already).
    void close();

    // One exchange (above). A frame with CommandLength 0 (a refused build) is still written,
    // as zero bytes, so the library's answer to it shows in `written`.
    ExchangeReply exchange(const CommandFrame& frame, std::uint16_t waitMs, std::size_t replyBytes,
                           Flush flush = Flush::Before);
    // Reads up to `maxBytes` reply bytes that are waiting, without writing anything (instead of
    // a flush, by a caller that must see what it throws away).
    std::vector<std::uint8_t> readPending(std::size_t maxBytes);
    // The same with the frame SOH, text, CR.
    ExchangeReply exchange(std::string_view text, std::uint16_t waitMs, std::size_t replyBytes,
                           Flush flush = Flush::Before);

private:
    const ControllerCalls* calls_ = nullptr;
    std::int32_t handle_ = -1;
};

} // namespace kvr::protocol
