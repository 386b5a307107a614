#pragma once
// A stand-in service for tests: listens on a service control socket and answers each
// connection with what `answer` returns for the request bytes it received (an empty answer
// closes the connection unanswered; `silent` keeps it open without answering).

#include "platform/common/unique_fd.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvr::test {

class FakeService {
public:
    using Answer = std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)>;
    FakeService(const std::string& name, Answer answer, bool silent = false);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    [[nodiscard]] bool listening() const { return listen_.valid(); }
    // Every control code received, in order.
    std::vector<std::uint32_t> controls() const;
    // Answers a well-formed request as a running service that takes every control.
    static Answer running();

private:
    void serve();

    std::filesystem::path path_;
    Answer answer_;
    bool silent_;
    UniqueFd listen_;
    UniqueFd stopRead_, stopWrite_;
    mutable std::mutex mutex_;
    std::vector<std::uint32_t> controls_;
    std::thread thread_;
};

} // namespace kvr::test
