#include "memtools/controller_search.h"

#include "protocol/commands.h"
#include "protocol/frame.h"
#include "protocol/replies.h"
#include "protocol/wait.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <array>

namespace kvr::memtools {
namespace {

constexpr std::uint8_t kNameBufferLength = 20;
constexpr std::size_t kMaxListedNames = 10;
constexpr std::uint16_t kAfterStreamMs = 30;
constexpr std::uint16_t kAfterStopMs = 300;

// A controller opened by name for one step, closed when the step is over.
class OpenedByName {
public:
    explicit OpenedByName(const std::string& name) : handle_(OpenController(name.c_str())) {}
    ~OpenedByName() {
        if (handle_ >= 0) CloseController(handle_);
    }
    OpenedByName(const OpenedByName&) = delete;
    OpenedByName& operator=(const OpenedByName&) = delete;
    [[nodiscard]] std::int32_t handle() const { return handle_; }

private:
    std::int32_t handle_;
};

// One "UT" probe: flush (when asked), "UT", wait, read. True for more than 5 bytes.
bool probe(std::int32_t handle, const SearchOptions& options) {
    if (options.flushBeforeProbe) FlushReadBuffer(handle);
    sendCommand(handle, protocol::command::kUnitType);
    protocol::WaitMilliseconds(options.probeWaitMs);
    return protocol::probeAnswered(readReply(handle));
}

// Opens the controller, probes it (a second time when the first probe gets no reply) and
// closes it again before the caller pauses.
bool answersUnitType(const std::string& name, const SearchOptions& options) {
    OpenedByName controller(name);
    const std::int32_t h = controller.handle();
    if (options.reopenComPort && name.find("232") != std::string::npos) ReopenCOMPort(h);
    return probe(h, options) || probe(h, options);
}

} // namespace

bool sendCommand(std::int32_t handle, std::string_view text) {
    protocol::CommandFrame frame;
    protocol::BuildCommand(frame, text);
    return WriteBuffer(handle, frame.CommandBuffer.data(), frame.CommandLength) != 0;
}

std::vector<std::uint8_t> readReply(std::int32_t handle) {
    std::array<std::uint8_t, protocol::kReplyReadSize> buf{};
    const std::uint32_t n = ReadBuffer(handle, buf.data(), static_cast<std::uint32_t>(buf.size()));
    return {buf.begin(), buf.begin() + std::min<std::size_t>(n, buf.size())};
}

std::string nameListEntry(std::string_view name) {
    std::size_t kind = name.find("RS232");
    if (kind == std::string_view::npos) kind = name.find("USB");
    if (kind == std::string_view::npos) return {};
    constexpr std::string_view kDevice = "DEVICE";
    constexpr std::size_t kDeviceFrom = 3; // the fourth character
    const std::size_t device = name.find(kDevice);
    if (device == std::string_view::npos || device < kDeviceFrom || device < kind) return {};
    const std::size_t end = std::min(name.size(), device + kDevice.size() + 1);
    return std::string(name.substr(kind, end - kind));
}

SearchResult searchController(const SearchOptions& options) {
    SearchResult result;
    result.count = GetExistControllers();
    const auto count =
        std::min<std::size_t>(static_cast<std::size_t>(result.count), kMaxListedNames);
    result.names.assign(count, {});
    for (std::size_t i = 0; i < count; ++i) {
        std::array<char, kNameBufferLength> name{};
        if (GetControllerName(static_cast<std::uint8_t>(i + 1), name.data(), kNameBufferLength))
            result.names[i] = nameListEntry(name.data());
    }

    for (std::size_t i = 0; i < count; ++i) {
        result.current = result.names[i];
        if (answersUnitType(result.current, options)) {
            result.answered = true;
            return result;
        }
        protocol::WaitMilliseconds(options.pauseMs);
    }
    return result;
}

void suspendReports(const std::string& name) {
    OpenedByName controller(name);
    sendCommand(controller.handle(), protocol::command::kStreamReports);
    protocol::WaitMilliseconds(kAfterStreamMs);
    sendCommand(controller.handle(), protocol::command::kStopReports);
    protocol::WaitMilliseconds(kAfterStopMs);
    readReply(controller.handle());
}

bool resumeReports(const std::string& name, std::uint16_t waitMs, bool readAnswer) {
    OpenedByName controller(name);
    const bool sent = sendCommand(controller.handle(), protocol::command::kStreamReports);
    protocol::WaitMilliseconds(waitMs);
    if (readAnswer) readReply(controller.handle());
    return controller.handle() >= 0 && sent;
}

} // namespace kvr::memtools
