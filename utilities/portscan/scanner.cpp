#include "utilities/portscan/scanner.h"

#include "platform/common/log.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "platform/registry/registry.h"
#include "platform/serial/dos_names.h"
#include "protocol/frame.h"
#include "utilities/portscan/probe.h"
#include "utilities/portscan/report_text.h"

#include <array>
#include <optional>
#include <string_view>

namespace kvr::portscan {

namespace {

using namespace kvr::control; // the drivers' control interface

constexpr const char* kDriverDevice = R"(\\.\KvrRs232D)";
constexpr std::string_view kComPortValue = "COMPORT";
constexpr std::uint8_t kReportModeButton = 3;
// The report-mode command exchange: up to 10 sends, 50 ms for the reply, 3 reply bytes.
constexpr int kModeCommandSends = 10;
constexpr std::chrono::milliseconds kModeReplyWait{50};
constexpr std::uint32_t kModeReplyBytes = 3;

void appendDword(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// One request for `device`: its index byte, then `payload`; the reply bytes (errors: none).
std::vector<std::uint8_t> request(ipc::ControlDevice& driver, std::uint32_t code,
                                  std::uint8_t device, std::span<const std::uint8_t> payload,
                                  std::uint32_t replyBytes) {
    std::vector<std::uint8_t> in{device};
    in.insert(in.end(), payload.begin(), payload.end());
    std::vector<std::uint8_t> out(std::max<std::size_t>(replyBytes, 1));
    std::uint32_t returned = 0;
    if (!driver.ioctl(code, in.data(), static_cast<std::uint32_t>(in.size()),
                      replyBytes > 0 ? out.data() : nullptr, replyBytes, &returned))
        returned = 0;
    out.resize(std::min<std::size_t>(returned, replyBytes));
    return out;
}

// Sends a report-mode command ("MI", "MS", "MP") through the driver until the controller
// acknowledges it: flush, write, wait 50 ms, read up to 3 bytes; done when 3 bytes came or the
// second is '0'; at most 10 sends. False when stopped.
bool sendModeCommand(ipc::ControlDevice& driver, std::uint8_t device, std::string_view text,
                     const ipc::Event& stop) {
    protocol::CommandFrame frame;
    protocol::BuildCommand(frame, text);
    for (int send = 0; send < kModeCommandSends; ++send) {
        request(driver, IOCTL_RS232_FLUSH_READ_BUFFER, device, {}, 0);
        request(driver, IOCTL_RS232_WRITE_BUFFER, device, frame.bytes(), 0);
        if (stop.wait(kModeReplyWait)) return false;
        const auto reply = request(driver, IOCTL_RS232_READ_BUFFER, device, {}, kModeReplyBytes);
        if (reply.size() == kModeReplyBytes || (reply.size() >= 2 && reply[1] == '0')) break;
    }
    return true;
}

} // namespace

std::string deviceKeyPath(std::uint8_t device) {
    return std::string(kProductKey) + R"(\RS232\Device)" + std::to_string(device);
}

void deleteConnectMarkers() {
    for (std::uint8_t n = 0; n < kDeviceSlots; ++n)
        reg::deleteValue(kProductKey, "RS232_DEVICE" + std::to_string(n));
}

Scanner::Scanner(std::vector<ListedPort> ports, const ipc::Event& stop, Show show)
    : ports_(std::move(ports)), stop_(stop), show_(std::move(show)), found_(ports_.size(), false) {}

bool Scanner::releaseServedControllers() {
    for (std::uint8_t n = 0; n < kDeviceSlots; ++n) {
        std::uint32_t com = 0;
        const std::string key = deviceKeyPath(n);
        if (reg::queryDword(key, kComPortValue, com) != reg::Status::Ok || com == 0) continue;
        // A driver that is not running is passed over; the registry is released all the same.
        if (auto driver = ipc::ControlDevice::open(kDriverDevice)) {
            if (!sendModeCommand(*driver, n, "MI", stop_)) return false;
            request(*driver, IOCTL_RS232_CLOSE_COM_PORT, n, {}, 0);
        }
        reg::setDword(key, kComPortValue, 0);
        if (stop_.isSet()) return false;
    }
    return true;
}

bool Scanner::handOver(std::uint8_t device, const ListedPort& port) {
    const std::string key = deviceKeyPath(device);
    if (reg::keyExists(key) == reg::Status::Ok) reg::setDword(key, kComPortValue, port.number);
    auto driver = ipc::ControlDevice::open(kDriverDevice);
    if (!driver) return true;
    std::vector<std::uint8_t> connect;
    appendDword(connect, port.number);
    appendDword(connect, kProbeBaudRate);
    request(*driver, IOCTL_RS232_CHANGE_COM_PORT, device, connect, 1);
    const auto mode = request(*driver, IOCTL_RS232_GET_REPORT_MODE, device, {}, 1);
    const bool button = mode.size() == 1 && mode[0] == kReportModeButton;
    return sendModeCommand(*driver, device, button ? "MP" : "MS", stop_);
}

bool Scanner::run() {
    if (!releaseServedControllers()) return false;
    std::size_t last = ports_.empty() ? 0 : ports_.size() - 1;
    bool maxReached = false;
    for (std::size_t i = 0; i < ports_.size(); ++i) {
        const auto device = serial::resolveDosName(ports_[i].path);
        const ProbeResult result = device ? probePort(*device, stop_) : ProbeResult::Unusable;
        if (result == ProbeResult::Stopped) return false;
        KVR_LOG_DEBUG("portscan: %s: %s", ports_[i].name.c_str(), probeResultText(result));
        if (result == ProbeResult::Found) {
            found_[i] = true;
            if (!handOver(static_cast<std::uint8_t>(count_), ports_[i])) return false;
            if (++count_ >= kMaxControllers) {
                maxReached = true;
                last = i;
                break;
            }
        }
        show_(progressText(ports_, found_, i));
        if (stop_.isSet()) return false;
    }
    final_ = finalText(ports_, found_, last, maxReached, kMaxControllers);
    show_(final_);
    return true;
}

} // namespace kvr::portscan
