#include "service/touch/controller_link.h"

#include "platform/clock/clock.h"

#include <charconv>

namespace kvr::touchsvc {

namespace {

constexpr std::uint8_t kSoh = 0x01;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kStatusDone = '0';
constexpr std::size_t kAcknowledgeBytes = 3;

std::optional<std::uint8_t> unitNumber(std::string_view digits, std::uint8_t units) {
    if (digits.empty()) return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value >= units)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

void appendDword(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

std::optional<Unit> parseControllerName(std::string_view name) {
    if (name.starts_with(kSerialPrefix)) {
        if (auto n = unitNumber(name.substr(kSerialPrefix.size()), kSerialUnits))
            return Unit{Bus::Serial, *n};
    } else if (name.starts_with(kUsbPrefix)) {
        if (auto n = unitNumber(name.substr(kUsbPrefix.size()), kUsbUnits))
            return Unit{Bus::Usb, *n};
    }
    return std::nullopt;
}

std::string controllerName(const Unit& unit) {
    return std::string(unit.bus == Bus::Serial ? kSerialPrefix : kUsbPrefix) +
           std::to_string(unit.number);
}

std::string_view deviceName(Bus bus) {
    return bus == Bus::Serial ? "\\\\.\\KvrRs232D" : "\\\\.\\KvrUsbMgr";
}

bool acknowledged(const std::vector<std::uint8_t>& reply) {
    return reply.size() >= kAcknowledgeBytes && reply[1] == kStatusDone;
}

std::optional<DriverLink> DriverLink::open(Bus bus) {
    auto device = ipc::ControlConnection::open(deviceName(bus));
    if (!device) return std::nullopt;
    return DriverLink(bus, std::move(*device));
}

bool DriverLink::request(std::uint32_t code, const std::vector<std::uint8_t>& in,
                         std::uint32_t outLength, std::vector<std::uint8_t>* reply, int passFd) {
    std::vector<std::uint8_t> out(outLength);
    std::uint32_t returned = 0;
    const bool ok =
        device_.ioctl(code, in.empty() ? nullptr : in.data(), static_cast<std::uint32_t>(in.size()),
                      out.empty() ? nullptr : out.data(), outLength, &returned, passFd);
    if (reply) {
        out.resize(std::min<std::size_t>(returned, out.size()));
        *reply = std::move(out);
    }
    return ok;
}

bool DriverLink::registerUnitEvent(std::uint32_t code, std::uint8_t unit, const ipc::Event& event) {
    std::vector<std::uint8_t> in{unit};
    // The handle value is this process's descriptor number; the descriptor itself travels with
    // the request and the driver keeps its own duplicate.
    appendDword(in, static_cast<std::uint32_t>(event.fd()));
    return request(code, in, 0, nullptr, event.fd());
}

bool DriverLink::registerGlobalEvent(std::uint32_t code, const ipc::Event& event) {
    std::vector<std::uint8_t> in;
    appendDword(in, static_cast<std::uint32_t>(event.fd()));
    return request(code, in, 0, nullptr, event.fd());
}

bool DriverLink::sendCommand(std::uint8_t unit, const Command& command) {
    // unit, SOH, text, CR (filled by index: g++ 12 misjudges a vector insert here)
    std::vector<std::uint8_t> write(command.text.size() + 3);
    write[0] = unit;
    write[1] = kSoh;
    for (std::size_t i = 0; i < command.text.size(); ++i)
        write[2 + i] = static_cast<std::uint8_t>(command.text[i]);
    write.back() = kCr;
    for (int attempt = 0; attempt < command.attempts; ++attempt) {
        request(IOCTL_RS232_FLUSH_READ_BUFFER, {unit}, 0);
        request(IOCTL_RS232_WRITE_BUFFER, write, 0);
        clock::sleepFor(kReplyWait);
        std::vector<std::uint8_t> reply;
        request(IOCTL_RS232_READ_BUFFER, {unit}, kReplyReadBytes, &reply);
        if (acknowledged(reply)) return true;
    }
    return false;
}

bool DriverLink::sendReportMode(std::uint8_t unit) {
    std::vector<std::uint8_t> mode;
    const bool pointMode = request(IOCTL_RS232_GET_REPORT_MODE, {unit}, 1, &mode) &&
                           mode.size() == 1 && mode[0] == kButtonReportMode;
    return sendCommand(unit, pointMode ? kPointCommand : kStreamCommand);
}

std::optional<std::uint8_t> DriverLink::lastDownDevice() {
    std::vector<std::uint8_t> reply;
    if (!request(IOCTL_RS232_GET_LAST_DOWN_DEVICE, {}, 1, &reply) || reply.size() != 1)
        return std::nullopt;
    return reply[0];
}

void DriverLink::releaseLastTouch() {
    request(IOCTL_RS232_GET_LAST_UP_DEVICE, {}, 1);
}

} // namespace kvr::touchsvc
