#include "utilities/portscan/probe.h"

#include "platform/serial/port.h"
#include "protocol/frame.h"
#include "protocol/replies.h"

#include <array>

namespace kvr::portscan {

namespace {

// The probe's line and timeouts: a read returns as soon as a byte is there, or empty after
// 100 ms; a write that cannot finish within 500 ms (flow control held, a far end that never
// drains) gives up.
constexpr serial::Timeouts kProbeTimeouts{
    .readInterval = serial::kMaxDword,
    .readTotalMultiplier = serial::kMaxDword,
    .readTotalConstant = static_cast<std::uint32_t>(kProbeReadTimeout.count()),
    .writeTotalMultiplier = 0,
    .writeTotalConstant = static_cast<std::uint32_t>(kProbeWriteLimit.count()),
};

ProbeOutcome notOpened(const std::filesystem::path& device, const serial::Error& error) {
    switch (error.kind) {
    case serial::OpenFailure::PermissionDenied:
        return {ProbeResult::PermissionDenied, permissionText(device)};
    case serial::OpenFailure::Busy:
        return {ProbeResult::Busy, busyText(device)};
    case serial::OpenFailure::Gone:
        return {ProbeResult::Gone, "not present"};
    case serial::OpenFailure::NotSerial:
        return {ProbeResult::NoDevice, {}}; // no controller can be on it
    case serial::OpenFailure::None:
    case serial::OpenFailure::Failed:
        break;
    }
    return {ProbeResult::Unusable, "cannot be used: " + error.text};
}

} // namespace

std::string permissionText(const std::filesystem::path& device) {
    const std::string group = serial::portGroup(device);
    return "permission denied: add yourself to group " + (group.empty() ? "dialout" : group);
}

std::string busyText(const std::filesystem::path& device) {
    const std::string holder = serial::portHolder(device);
    return "in use by " + (holder.empty() ? std::string("another program") : holder);
}

const char* probeResultText(ProbeResult result) {
    switch (result) {
    case ProbeResult::Found:
        return "controller found";
    case ProbeResult::NoDevice:
        return "no answer";
    case ProbeResult::PermissionDenied:
        return "permission denied";
    case ProbeResult::Busy:
        return "in use by another program";
    case ProbeResult::Gone:
        return "not present";
    case ProbeResult::Unusable:
        return "not usable";
    case ProbeResult::Stopped:
        return "stopped";
    }
    return "?";
}

ProbeOutcome probePort(const std::filesystem::path& device, const ipc::Event& stop) {
    serial::OpenOptions options;
    options.baudRate = 9600;
    options.exclusiveTty = true;
    options.restoreOnClose = true;
    options.lowLatency = false;
    serial::Error error;
    const std::unique_ptr<serial::Port> port = serial::Port::open(device, options, &error);
    if (!port) return notOpened(device, error);
    port->setTimeouts(kProbeTimeouts);

    protocol::CommandFrame reset;
    protocol::BuildCommand(reset, "R");
    std::array<std::uint8_t, kProbeReadBytes> reply{};
    for (int attempt = 0; attempt < kProbeTries; ++attempt) {
        port->discard(serial::Queue::Input);
        const serial::IoResult written = port->write(reset.bytes(), stop.fd());
        if (written.status != serial::IoStatus::Ok)
            return {stop.isSet() ? ProbeResult::Stopped : ProbeResult::NoDevice, {}};
        if (stop.wait(kProbeReplyWait)) return {ProbeResult::Stopped, {}};
        const serial::IoResult read = port->readPerTimeouts(reply, stop.fd());
        if (read.status == serial::IoStatus::Stopped) return {ProbeResult::Stopped, {}};
        if (protocol::startsWithAcknowledge({reply.data(), read.count}))
            return {ProbeResult::Found, {}};
    }
    return {ProbeResult::NoDevice, {}};
}

} // namespace kvr::portscan
