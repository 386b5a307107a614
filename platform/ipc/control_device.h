#pragma once
// Control devices: the stand-in for device objects opened as \\.\Name and driven with
// buffered DeviceIoControl requests.
//
// A control device is the SOCK_SEQPACKET Unix socket $KVR_RUNTIME_DIR/dev/<Name>. Opening the
// device connects to it; it fails when no daemon serves it. One message per request and one
// per reply, in the machine's native byte order:
//
//   request   0        4          8           12
//             +--------+----------+-----------+------------------------+
//             | code   | inLength | outLength | inLength input bytes   |   [+ 0 or 1 fd]
//             +--------+----------+-----------+------------------------+
//   reply     0        4             8
//             +--------+-------------+-------------------------------------+
//             | status | information | min(information, bufLen) bytes      |
//             +--------+-------------+-------------------------------------+
//
// bufLen = max(inLength, outLength); inLength and outLength are at most kMaxTransfer. The
// optional descriptor travels as SCM_RIGHTS (an event handle being registered).
//
// Buffered semantics: the dispatch routine sees one system buffer of bufLen bytes holding the
// input, zero-filled after it; its reply overwrites that buffer in place. The client copies
// min(information, outLength) bytes back (none for an error status). So a code that leaves
// the buffer alone returns the request bytes.
//
// A frame that breaks these rules (shorter than the header, a length that does not match the
// message, a length above kMaxTransfer, more than one descriptor) closes that connection only.

#include "platform/common/unique_fd.h"
#include "platform/ipc/nt_status.h"
#include "platform/ipc/peer_credentials.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kvr::ipc {

inline constexpr std::uint32_t kMaxTransfer = 64 * 1024;
inline constexpr std::size_t kRequestHeaderBytes = 12;
inline constexpr std::size_t kReplyHeaderBytes = 8;

// ---- server side ----------------------------------------------------------------------------

struct Request {
    std::uint32_t code = 0;
    std::uint32_t inLength = 0;
    std::uint32_t outLength = 0;
    // The system buffer: max(inLength, outLength) bytes; the input, zeros after it. The
    // dispatch writes its reply here.
    std::span<std::uint8_t> buffer;
    // The descriptor sent with the request, if any (invalid otherwise). The dispatch may take
    // it (Event::adopt); whatever is left is closed after the request.
    UniqueFd passedFd;
    // The connection (open handle) the request came on: unique for the server's life, never 0
    // for a request that came over a socket. 0 for a caller that dispatches directly.
    std::uint64_t connection = 0;
    // What the peer of that connection may do (peer_credentials.h), judged when it
    // connected; a caller that dispatches directly is the daemon itself.
    PeerTrust peer = PeerTrust::Owner;
};

struct Reply {
    std::uint32_t status = status::kSuccess;
    // Number of reply bytes at the start of the buffer. Values beyond the buffer are carried
    // in the header as they are but only the buffer's bytes are sent.
    std::uint32_t information = 0;
};

// Runs on the connection's thread; requests of one connection are sequential, requests of
// different connections run at the same time. An exception it throws fails that request with
// STATUS_UNSUCCESSFUL and goes no further.
using Dispatch = std::function<Reply(Request&)>;
// Called once when a connection has ended (the client closed its handle, the client process
// ended, or the server is stopping), on that connection's thread, after its last request. The
// stand-in for the close of a handle: state tied to the connection is released here.
using ConnectionClosed = std::function<void(std::uint64_t connection)>;

class ControlServer {
public:
    // Serves $KVR_RUNTIME_DIR/dev/<name> (folder created when missing). The socket gets mode
    // 0660 and, when `group` is not empty, that group (by name). Each connection's peer is
    // judged against the socket's group (the daemon's own group when `group` is empty). A stale
    // socket left by a dead daemon is replaced; a socket a live daemon serves makes start fail. On
    // failure returns null and a one-line reason in `error`. `closed` (optional) hears of every
    // connection's end.
    static std::unique_ptr<ControlServer> start(std::string name, Dispatch dispatch,
                                                std::string group, std::string& error,
                                                ConnectionClosed closed = {});
    // Whether `name` could be served from the runtime folder as it is (a usable name, socket
    // paths that fit, the folder there or creatable); false and the reason otherwise. A
    // daemon asks before it changes anything, so a runtime folder it cannot use costs nothing.
    static bool canServe(const std::string& name, std::string& error);

    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;
    // Stops serving: no new connections, every connection closed (clients see their requests
    // fail), every thread joined, the socket file removed. Waits for dispatches in progress.
    // Safe to call twice; the destructor calls it. Not from inside the dispatch (it would
    // wait for itself).
    void stop();
    ~ControlServer();

    [[nodiscard]] const std::string& path() const;
    // Connections open right now (for tests and diagnostics).
    [[nodiscard]] std::size_t connectionCount() const;

    struct Impl;

private:
    explicit ControlServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// ---- client side: CreateFileA / DeviceIoControl / CloseHandle -------------------------------

class ControlDevice {
public:
    // "\\.\KvrRs232D" or "KvrRs232D" (compared without case, as device names are). Nothing
    // when the name is not a device name or no daemon serves it.
    static std::optional<ControlDevice> open(std::string_view name);

    ControlDevice(ControlDevice&&) noexcept;
    ControlDevice& operator=(ControlDevice&&) noexcept;
    ControlDevice(const ControlDevice&) = delete;
    ControlDevice& operator=(const ControlDevice&) = delete;
    ~ControlDevice();

    // One request. True when the completion status is a success status. Copies
    // min(information, outLength) reply bytes to `out` unless the status is an error status;
    // `*returned` = the bytes copied. `passFd` (>= 0) is sent along (a duplicate travels; the
    // caller keeps its own). `*status` = the completion status, or kPortDisconnected when the
    // daemon could not be reached, kInvalidParameter when a length is above kMaxTransfer or a
    // buffer is missing, kInvalidHandle after close() or when `passFd` is not an open
    // descriptor.
    // Thread-safe: concurrent calls each use their own connection, so a long request does not
    // hold up the others.
    bool ioctl(std::uint32_t code, const void* in, std::uint32_t inLength, void* out,
               std::uint32_t outLength, std::uint32_t* returned, int passFd = -1,
               std::uint32_t* status = nullptr);

    void close();
    [[nodiscard]] bool isOpen() const;

    struct Impl;

private:
    explicit ControlDevice(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// One open handle that stays one connection for its whole life: what a client holds when the
// driver ties state to the handle (an event registration lasts until the handle is closed)
// and when the client must learn that the driver has gone. Requests are sent one at a time
// (concurrent callers wait for each other); nothing is ever sent again on another connection.
class ControlConnection {
public:
    // As ControlDevice::open.
    static std::optional<ControlConnection> open(std::string_view name);

    ControlConnection(ControlConnection&&) noexcept;
    ControlConnection& operator=(ControlConnection&&) noexcept;
    ControlConnection(const ControlConnection&) = delete;
    ControlConnection& operator=(const ControlConnection&) = delete;
    ~ControlConnection(); // closes the handle: the driver releases what it tied to it

    // As ControlDevice::ioctl; once the connection has broken every call fails with
    // kPortDisconnected.
    bool ioctl(std::uint32_t code, const void* in, std::uint32_t inLength, void* out,
               std::uint32_t outLength, std::uint32_t* returned, int passFd = -1,
               std::uint32_t* status = nullptr);
    // True once the driver has closed the connection (it stopped or died); never blocks.
    [[nodiscard]] bool ended() const;
    // The connection's descriptor, for a wait on its end (readable or hung up = ended); -1
    // once it is gone. Only to poll: the connection keeps it.
    [[nodiscard]] int fd() const;

    struct Impl;

private:
    explicit ControlConnection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Whether a control device can be reached, and if not why, so that a program can tell its user
// more than "failed". The probe connects and hangs up at once; the daemon sees an empty
// connection.
enum class DeviceReach {
    Served,       // a daemon accepted the connection
    NotServed,    // no socket, or nobody listens on it (the driver is not running)
    AccessDenied, // the socket (or its folder) refuses this user
};
struct DeviceReachReport {
    DeviceReach reach = DeviceReach::NotServed;
    std::string group; // AccessDenied: the group that owns the socket, when it could be read
};
DeviceReachReport probeDevice(std::string_view name);

// The socket path a device name maps to (no case folding); nothing for a name that is not a
// plain device name ("\\.\" prefix optional, no path separators, not empty, fits a socket
// address).
std::optional<std::string> devicePath(std::string_view name);

} // namespace kvr::ipc
