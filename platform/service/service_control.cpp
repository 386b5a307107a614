#include "platform/service/service_control.h"

#include "platform/common/log.h"
#include "platform/common/paths.h"
#include "platform/common/unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <system_error>

namespace kvr::svc {
namespace {

using Clock = std::chrono::steady_clock;

void putWord(std::uint8_t* at, std::uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}
std::uint32_t getWord(const std::uint8_t* at) {
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

bool asciiEqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// The socket to use: the exact name when it exists, else one differing only in case.
std::filesystem::path findSocket(const std::filesystem::path& exact, std::string_view name) {
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) return exact;
    for (const auto& entry : std::filesystem::directory_iterator(exact.parent_path(), ec)) {
        if (asciiEqualNoCase(entry.path().filename().native(), name)) return entry.path();
    }
    return exact;
}

timeval toTimeval(std::chrono::milliseconds ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms.count() % 1000) * 1000);
    // A zero timeout would mean "wait for ever" to the socket options.
    if (tv.tv_sec == 0 && tv.tv_usec == 0) tv.tv_usec = 1000;
    return tv;
}

} // namespace

std::optional<std::filesystem::path> controlSocketPath(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
        name.find('/') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return std::nullopt;
    return paths::runtimeDir() / "svc" / std::string(name);
}

void encodeRequest(const ControlRequest& request, std::uint8_t (&out)[kRequestBytes]) {
    putWord(out, kWireMagic);
    putWord(out + 4, request.control);
}

std::optional<ControlRequest> decodeRequest(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length != kRequestBytes || getWord(data) != kWireMagic)
        return std::nullopt;
    return ControlRequest{getWord(data + 4)};
}

void encodeReply(const ControlResult& reply, std::uint8_t (&out)[kReplyBytes]) {
    const ServiceStatus& s = reply.status;
    const std::uint32_t words[] = {kWireMagic,
                                   reply.error,
                                   s.serviceType,
                                   s.currentState,
                                   s.controlsAccepted,
                                   s.win32ExitCode,
                                   s.serviceSpecificExitCode,
                                   s.checkPoint,
                                   s.waitHint};
    static_assert(sizeof words == kReplyBytes);
    std::memcpy(out, words, sizeof words);
}

std::optional<ControlResult> decodeReply(const std::uint8_t* data, std::size_t length) {
    if (data == nullptr || length != kReplyBytes || getWord(data) != kWireMagic)
        return std::nullopt;
    ControlResult r;
    r.error = getWord(data + 4);
    ServiceStatus& s = r.status;
    std::uint32_t* fields[] = {&s.serviceType,
                               &s.currentState,
                               &s.controlsAccepted,
                               &s.win32ExitCode,
                               &s.serviceSpecificExitCode,
                               &s.checkPoint,
                               &s.waitHint};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = getWord(data + 8 + 4 * i);
    return r;
}

ControlResult controlService(std::string_view name, std::uint32_t code,
                             std::chrono::milliseconds timeout) {
    ControlResult result;
    const auto exact = controlSocketPath(name);
    if (!exact) {
        result.error = kErrorInvalidName;
        return result;
    }
    const std::string path = findSocket(*exact, name).string();
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        KVR_LOG_WARN("service control: socket path too long: %s", path.c_str());
        result.error = kErrorServiceNotActive;
        return result;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);

    timeout = std::max(timeout, std::chrono::milliseconds(0));
    const auto deadline = Clock::now() + timeout;

    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd) {
        result.error = kErrorServiceNotActive;
        return result;
    }
    // Connect and send block at most for the time limit (a service whose listen queue is full
    // counts as not answering, never as a hang).
    const timeval tv = toTimeval(timeout);
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    int rc;
    do {
        rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        result.error = (errno == EAGAIN || errno == EINPROGRESS) ? kErrorServiceRequestTimeout
                       : (errno == EACCES || errno == EPERM)     ? kErrorAccessDenied
                                                                 : kErrorServiceNotActive;
        return result;
    }

    std::uint8_t request[kRequestBytes];
    encodeRequest(ControlRequest{code}, request);
    ssize_t sent;
    do {
        sent = ::send(fd.get(), request, sizeof request, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        result.error =
            (sent < 0 && errno == EAGAIN) ? kErrorServiceRequestTimeout : kErrorServiceNotActive;
        return result;
    }

    // One byte more than a reply, so that an overlong message is seen as one.
    std::uint8_t reply[kReplyBytes + 1];
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            result.error = kErrorServiceRequestTimeout;
            return result;
        }
        pollfd pfd{fd.get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) {
            result.error = kErrorServiceNotActive;
            return result;
        }
        if (ready <= 0) continue; // interrupted or timed out: the deadline check decides

        const ssize_t got = ::recv(fd.get(), reply, sizeof reply, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) {
            // The service closed the connection without an answer: it went away meanwhile.
            result.error = kErrorServiceNotActive;
            return result;
        }
        const auto decoded = decodeReply(reply, static_cast<std::size_t>(got));
        if (!decoded) {
            result.error = kErrorInvalidData;
            return result;
        }
        return *decoded;
    }
}

} // namespace kvr::svc
