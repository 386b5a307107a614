#pragma once
// A pseudo-terminal pair for serial tests: the test plays the controller on the master side,
// the code under test opens the slave as its serial port.

#include "platform/common/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kvr::test {

struct Pty {
    UniqueFd master;
    std::string slavePath;

    static Pty open() {
        Pty p;
        p.master.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
        if (!p.master || ::grantpt(p.master.get()) != 0 || ::unlockpt(p.master.get()) != 0) {
            return {};
        }
        const char* name = ::ptsname(p.master.get());
        if (name != nullptr) p.slavePath = name;
        return p;
    }

    [[nodiscard]] bool valid() const { return master.valid() && !slavePath.empty(); }

    // Writes every byte to the master side (the controller talking).
    bool send(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master.get(), bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{master.get(), POLLOUT, 0};
                if (::poll(&p, 1, 5000) <= 0) return false;
            } else if (n < 0 && errno != EINTR) {
                return false;
            }
        }
        return true;
    }

    // Reads from the master side until `count` bytes came or `deadline` passed.
    std::vector<std::uint8_t>
    receive(std::size_t count,
            std::chrono::milliseconds deadline = std::chrono::seconds(20)) const {
        std::vector<std::uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (got.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{master.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            std::uint8_t buf[512];
            ssize_t n = ::read(master.get(), buf, std::min(sizeof buf, count - got.size()));
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        return got;
    }
};

} // namespace kvr::test
