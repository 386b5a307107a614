#include "memtools/controller_search.h"

#include "protocol/commands.h"
#include "protocol/replies.h"
#include "protocol/session.h"
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

using protocol::Flush;

// One "UT" probe: flush (when asked), "UT", wait, read. True for more than 5 bytes.
bool probe(protocol::ControllerSession& controller, const SearchOptions& options) {
    const auto reply = controller.exchange(protocol::command::kUnitType, options.probeWaitMs,
                                           protocol::kReplyReadSize,
                                           options.flushBeforeProbe ? Flush::Before : Flush::None);
    return protocol::probeAnswered(reply.bytes);
}

// Opens the controller, probes it (a second time when the first probe gets no reply) and
// closes it again before the caller pauses.
bool answersUnitType(const std::string& name, const SearchOptions& options) {
    protocol::ControllerSession controller(name);
    if (options.reopenComPort && name.find("232") != std::string::npos)
        ReopenCOMPort(controller.handle());
    return probe(controller, options) || probe(controller, options);
}

} // namespace

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
    protocol::ControllerSession controller(name);
    controller.exchange(protocol::command::kStreamReports, kAfterStreamMs, 0, Flush::None);
    controller.exchange(protocol::command::kStopReports, kAfterStopMs, protocol::kReplyReadSize,
                        Flush::None);
}

bool resumeReports(const std::string& name, std::uint16_t waitMs, bool readAnswer) {
    protocol::ControllerSession controller(name);
    const auto reply = controller.exchange(protocol::command::kStreamReports, waitMs,
                                           readAnswer ? protocol::kReplyReadSize : 0, Flush::None);
    return controller.isOpen() && reply.written != 0;
}

} // namespace kvr::memtools
