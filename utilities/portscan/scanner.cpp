#include "utilities/portscan/scanner.h"

#include "platform/common/log.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "platform/registry/registry.h"
#include "platform/serial/dos_names.h"
#include "platform/serial/port.h"
#include "protocol/frame.h"

#include <algorithm>
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

constexpr const char* kLeftAsItIs = " (its controller is left as it is)";
constexpr const char* kConnectedAgain = " (its controller is connected again)";

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

// A driver that is not running is passed over.
bool releaseInDriver(std::uint8_t device, const ipc::Event& stop) {
    auto driver = ipc::ControlDevice::open(kDriverDevice);
    if (!driver) return true;
    if (!sendModeCommand(*driver, device, "MI", stop)) return false;
    request(*driver, IOCTL_RS232_CLOSE_COM_PORT, device, {}, 0);
    return true;
}

bool connectInDriver(std::uint8_t device, unsigned comPort, const ipc::Event& stop) {
    auto driver = ipc::ControlDevice::open(kDriverDevice);
    if (!driver) return true;
    std::vector<std::uint8_t> connect;
    appendDword(connect, comPort);
    appendDword(connect, kProbeBaudRate);
    request(*driver, IOCTL_RS232_CHANGE_COM_PORT, device, connect, 1);
    const auto mode = request(*driver, IOCTL_RS232_GET_REPORT_MODE, device, {}, 1);
    const bool button = mode.size() == 1 && mode[0] == kReportModeButton;
    return sendModeCommand(*driver, device, button ? "MP" : "MS", stop);
}

std::string comName(unsigned comPort) {
    return "COM" + std::to_string(comPort);
}

} // namespace

std::string deviceKeyPath(std::uint8_t device) {
    return std::string(kProductKey) + R"(\RS232\Device)" + std::to_string(device);
}

void deleteConnectMarkers() {
    for (std::uint8_t n = 0; n < kDeviceSlots; ++n)
        reg::deleteValue(kProductKey, "RS232_DEVICE" + std::to_string(n));
}

ScanCalls systemCalls() {
    return {
        .resolve = [](unsigned comPort) { return serial::resolveDosName(comName(comPort)); },
        .accessProblem = serial::accessProblem,
        .probe = probePort,
        .release = releaseInDriver,
        .connect = connectInDriver,
    };
}

Scanner::Scanner(std::vector<ListedPort> ports, const ipc::Event& stop, Show show, ScanCalls calls)
    : ports_(std::move(ports)), stop_(stop), show_(std::move(show)), calls_(std::move(calls)),
      results_(ports_.size()) {}

void Scanner::warn(const std::string& port, const std::string& why) {
    KVR_LOG_WARN("%s: %s", port.c_str(), why.c_str());
}

Scanner::Configured* Scanner::configuredOn(unsigned comPort) {
    for (Configured& c : configured_)
        if (c.comPort == comPort) return &c;
    return nullptr;
}

bool Scanner::releaseServedControllers() {
    for (std::uint8_t n = 0; n < kDeviceSlots; ++n) {
        std::uint32_t com = 0;
        const std::string key = deviceKeyPath(n);
        if (reg::queryDword(key, kComPortValue, com) != reg::Status::Ok || com == 0) continue;
        Configured& c = configured_.emplace_back();
        c.device = n;
        c.comPort = com;
        // A port this user cannot open cannot be probed: its controller stays as it is.
        const auto tty = calls_.resolve(com);
        const serial::OpenFailure problem =
            tty ? calls_.accessProblem(*tty) : serial::OpenFailure::Gone;
        if (problem == serial::OpenFailure::PermissionDenied ||
            problem == serial::OpenFailure::Gone) {
            c.keptBecause =
                problem == serial::OpenFailure::Gone ? "not present" : permissionText(*tty);
            c.settled = true;
            taken_[n] = true;
            warn(comName(com), c.keptBecause + kLeftAsItIs);
            continue;
        }
        c.released = true; // from the first "MI" on, the controller is silenced
        if (!calls_.release(n, stop_)) return false;
        reg::setDword(key, kComPortValue, 0);
        if (stop_.isSet()) return false;
    }
    return true;
}

std::optional<std::uint8_t> Scanner::freeDevice(std::optional<std::uint8_t> preferred) const {
    if (preferred && !taken_[*preferred]) return preferred;
    for (std::uint8_t n = 0; n < kDeviceSlots; ++n)
        if (!taken_[n]) return n;
    return std::nullopt;
}

std::optional<std::uint8_t> Scanner::handOver(unsigned comPort,
                                              std::optional<std::uint8_t> preferred) {
    const auto device = freeDevice(preferred);
    if (!device) {
        warn(comName(comPort), "no free device left for its controller");
        return std::nullopt;
    }
    taken_[*device] = true;
    const std::string key = deviceKeyPath(*device);
    if (reg::keyExists(key) == reg::Status::Ok) reg::setDword(key, kComPortValue, comPort);
    calls_.connect(*device, comPort, stop_);
    return device;
}

void Scanner::reconnectUnsettled() {
    for (Configured& c : configured_) {
        if (!c.released || c.settled) continue;
        c.settled = true;
        handOver(c.comPort, c.device);
        notes_.push_back(comName(c.comPort) + ": not probed" + kConnectedAgain + ".");
        warn(comName(c.comPort), std::string("not probed") + kConnectedAgain);
    }
}

bool Scanner::run() {
    bool completed = releaseServedControllers();
    std::size_t last = ports_.empty() ? 0 : ports_.size() - 1;
    bool maxReached = false;
    for (std::size_t i = 0; completed && i < ports_.size(); ++i) {
        const ListedPort& port = ports_[i];
        Configured* before = configuredOn(port.number);
        if (before != nullptr && !before->keptBecause.empty()) {
            results_[i] = {PortState::CannotProbe, before->keptBecause + kLeftAsItIs};
        } else {
            const auto tty = calls_.resolve(port.number);
            const ProbeOutcome outcome =
                tty ? calls_.probe(*tty, stop_) : ProbeOutcome{ProbeResult::Gone, "not present"};
            KVR_LOG_DEBUG("portscan: %s: %s", port.name.c_str(), probeResultText(outcome.result));
            if (outcome.result == ProbeResult::Stopped) {
                completed = false;
                break;
            }
            if (before != nullptr) before->settled = provesPort(outcome.result);
            if (outcome.result == ProbeResult::Found) {
                results_[i].state = PortState::Found;
                handOver(port.number, std::nullopt);
                ++count_;
            } else if (outcome.result == ProbeResult::NoDevice) {
                results_[i].state = PortState::NoDevice;
            } else {
                // Not proven empty: a controller released from this port goes back on it.
                const bool reconnect = before != nullptr && before->released && !before->settled;
                results_[i] = {PortState::CannotProbe,
                               outcome.why + (reconnect ? kConnectedAgain : "")};
                warn(port.name, results_[i].why);
                if (reconnect) {
                    before->settled = true;
                    handOver(port.number, before->device);
                    ++count_;
                }
            }
            if (count_ >= kMaxControllers) {
                maxReached = true;
                last = i;
                break;
            }
        }
        show_(progressText(ports_, results_, i));
        if (stop_.isSet()) completed = false;
    }
    reconnectUnsettled();
    if (!completed) return false;
    // Controllers left as they were on ports the list does not hold.
    for (const Configured& c : configured_) {
        const bool listed = std::any_of(ports_.begin(), ports_.end(),
                                        [&](const ListedPort& p) { return p.number == c.comPort; });
        if (!c.keptBecause.empty() && !listed)
            notes_.push_back(comName(c.comPort) + ": " + c.keptBecause + kLeftAsItIs + ".");
    }
    final_ = finalText(ports_, results_, last, maxReached, kMaxControllers, notes_);
    show_(final_);
    return true;
}

} // namespace kvr::portscan
