// kvrctl: sends control requests to a running driver's control device, for the demo, for
// scripts and for people looking at a live system.
//
//   kvrctl connect DEV COM [--baud B] [--format F]   control code 11
//   kvrctl disconnect DEV                            code 12
//   kvrctl reopen DEV                                code 21
//   kvrctl replug TTY                                a serial line appeared (udev): the
//                                                    controllers on it connected again
//   kvrctl write DEV HEX...                          code 13 (3 to 10 bytes to the controller)
//   kvrctl read DEV [MAX]                            code 14 (bytes from the response queue)
//   kvrctl raw CODE [HEX...] [--out N]               any code, request bytes as given
//   kvrctl sim SOCKET LINE...                        scenario lines to a kvrsim control
//                                                    socket, then waits until they are played
//   kvrctl watch [UNIT]                              the driver's live raw reports and
//                                                    pointer records until Ctrl+C
// --device NAME picks the control device (default KvrRs232D; KvrUsbMgr for the USB role).
// Prints the completion status (its name and, for a failure, its meaning) and the reply bytes
// in hex. The driver acknowledges a connect whether or not the port opened, so connect and
// reopen look at the port afterwards and say whether the device really connected.
// Exit status: 0 done, 1 the request failed or the device did not connect, 2 usage error.

#include "driver/kvrctl_ports.h"
#include "driver/kvrctl_replug.h"
#include "driver/kvrctl_watch.h"
#include "platform/desktop/cli11_app.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "platform/serial/dos_names.h"
#include "platform/serial/line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace kvr::control;
namespace ntstatus = kvr::ipc::status;
using kvr::cli::kExitFailure;
using kvr::cli::kExitOk;
using kvr::cli::kExitUsage;

constexpr const char* kProgram = "kvrctl";
constexpr const char* kCommands =
    "connect, disconnect, reopen, replug, write, read, raw, sim, watch";

int usage(const std::string& message) {
    return kvr::cli::usageError(kProgram, message);
}
int failed(const std::string& message) {
    return kvr::cli::failure(kProgram, message);
}

// "01 47 50" or "014750" or "0x01,0x47": pairs of hex digits; false on anything else.
bool parseHex(const std::vector<std::string>& words, std::vector<std::uint8_t>& out) {
    std::string digits;
    for (std::string w : words) {
        for (std::size_t p; (p = w.find("0x")) != std::string::npos;)
            w.erase(p, 2);
        for (char c : w) {
            if (c == ',' || c == ' ') continue;
            if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
            digits += c;
        }
    }
    if (digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.push_back(
            static_cast<std::uint8_t>(std::strtoul(digits.substr(i, 2).c_str(), nullptr, 16)));
    return true;
}

void putDword(std::vector<std::uint8_t>& buf, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        buf.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The statuses the control devices complete with, named and explained.
struct StatusName {
    std::uint32_t status;
    const char* name;
    const char* meaning;
};
constexpr StatusName kStatusNames[] = {
    {ntstatus::kSuccess, "STATUS_SUCCESS", "done"},
    {ntstatus::kUnsuccessful, "STATUS_UNSUCCESSFUL",
     "the driver refused the request (an event registered already, for instance)"},
    {ntstatus::kNotImplemented, "STATUS_NOT_IMPLEMENTED", "the driver does not serve this request"},
    {ntstatus::kInvalidHandle, "STATUS_INVALID_HANDLE",
     "no event descriptor came with the request"},
    {ntstatus::kInvalidParameter, "STATUS_INVALID_PARAMETER",
     "the driver knows no such control code"},
    {ntstatus::kInvalidDeviceRequest, "STATUS_INVALID_DEVICE_REQUEST",
     "no such device index (0..7 on KvrRs232D, 0..3 on KvrUsbMgr)"},
    {ntstatus::kAccessDenied, "STATUS_ACCESS_DENIED",
     "only members of the control device's group may change the driver or a controller"},
    {ntstatus::kBufferTooSmall, "STATUS_BUFFER_TOO_SMALL",
     "the request or the reply buffer is too short for this code, a value is out of range, or "
     "the device is not connected"},
    {ntstatus::kObjectTypeMismatch, "STATUS_OBJECT_TYPE_MISMATCH",
     "the descriptor sent is not an event"},
    {ntstatus::kObjectNameNotFound, "STATUS_OBJECT_NAME_NOT_FOUND", "no such object"},
    {kvr::ipc::status::kPortDisconnected, "STATUS_PORT_DISCONNECTED",
     "the connection to the driver broke (it stopped, or refused a malformed request)"},
    {ntstatus::kSharingViolation, "STATUS_SHARING_VIOLATION", "already connected"},
    {ntstatus::kInsufficientResources, "STATUS_INSUFFICIENT_RESOURCES",
     "the driver is out of resources"},
};

std::string statusText(std::uint32_t status) {
    char text[80];
    for (const auto& s : kStatusNames)
        if (s.status == status) {
            std::snprintf(text, sizeof text, "status 0x%08X %s", status, s.name);
            return text;
        }
    std::snprintf(text, sizeof text, "status 0x%08X", status);
    return text;
}

const char* statusMeaning(std::uint32_t status) {
    for (const auto& s : kStatusNames)
        if (s.status == status) return s.meaning;
    return "an error status the driver does not use";
}

struct Reply {
    bool ok = false;
    std::uint32_t status = 0;
    std::vector<std::uint8_t> bytes;
};

class Driver {
public:
    explicit Driver(std::string name) : name_(std::move(name)) {}

    [[nodiscard]] const std::string& name() const { return name_; }
    // Nothing (and a message) when the daemon cannot be reached.
    std::optional<Reply> call(std::uint32_t code, const std::vector<std::uint8_t>& in,
                              std::uint32_t outLength) {
        if (!dev_) dev_ = kvr::ipc::ControlDevice::open(name_);
        if (!dev_) {
            failed("cannot open \\\\.\\" + name_ + " (is the driver running?)");
            return std::nullopt;
        }
        Reply r;
        r.bytes.resize(outLength);
        std::uint32_t returned = 0;
        r.ok = dev_->ioctl(code, in.data(), static_cast<std::uint32_t>(in.size()),
                           r.bytes.empty() ? nullptr : r.bytes.data(), outLength, &returned, -1,
                           &r.status);
        r.bytes.resize(std::min<std::size_t>(returned, r.bytes.size()));
        return r;
    }

private:
    std::string name_;
    std::optional<kvr::ipc::ControlDevice> dev_;
};

// Prints the reply: one line on stdout for a success, the status with its meaning on stderr
// for a failure.
int printReply(const Reply& r) {
    if (!r.ok) return failed(statusText(r.status) + ": " + statusMeaning(r.status));
    std::printf("%s, %zu byte(s)", statusText(r.status).c_str(), r.bytes.size());
    for (const std::uint8_t b : r.bytes)
        std::printf(" %02X", b);
    std::printf("\n");
    return kExitOk;
}

int request(Driver& driver, std::uint32_t code, const std::vector<std::uint8_t>& in,
            std::uint32_t outLength) {
    const auto r = driver.call(code, in, outLength);
    return r ? printReply(*r) : kExitFailure;
}

// ---- connect and reopen: did the device really connect? ---------------------------------

bool isUsb(const Driver& driver) {
    return ::strcasecmp(driver.name().c_str(), "KvrUsbMgr") == 0;
}

std::string portName(const Driver& driver, unsigned dev, unsigned com) {
    return isUsb(driver) ? "usb" + std::to_string(dev) : "COM" + std::to_string(com);
}

std::filesystem::path portPath(const Driver& driver, unsigned dev, unsigned com) {
    return isUsb(driver) ? kvr::serial::usbLinkPath(dev) : kvr::serial::comDevicePath(com);
}

// The COM number stored for a device (code 31); 0 when none or unknown.
unsigned storedComPort(Driver& driver, unsigned dev) {
    const auto r = driver.call(IOCTL_RS232_CURRENT_COM_PORT, {static_cast<std::uint8_t>(dev)}, 1);
    return r && r->ok && r->bytes.size() == 1 ? r->bytes[0] : 0;
}

// After a connect request for `dev` on `com`: says whether the device is connected, and why
// not. `before` is the port as it was before the request; `previousCom` the device's stored
// port then.
int judgeConnect(Driver& driver, unsigned dev, unsigned com, const kvr::kvrctl::PortState& before,
                 unsigned previousCom, pid_t driverPid) {
    using kvr::kvrctl::PortHolder;
    const auto path = portPath(driver, dev, com);
    const std::string port =
        portName(driver, dev, com) + " (" + kvr::kvrctl::describePort(path) + ")";
    const auto after = kvr::kvrctl::inspectPort(path, driverPid);
    const std::string notConnected = "device " + std::to_string(dev) + " is not connected: ";
    // A device that is connected keeps its port: the request changed only the stored one.
    if (after.holder != PortHolder::Driver && previousCom != 0 && previousCom != com &&
        !isUsb(driver) &&
        kvr::kvrctl::inspectPort(portPath(driver, dev, previousCom), driverPid).holder ==
            PortHolder::Driver)
        return failed("device " + std::to_string(dev) + " stays connected on COM" +
                      std::to_string(previousCom) + ", not COM" + std::to_string(com) +
                      ": disconnect it first (kvrctl disconnect " + std::to_string(dev) + ")");
    switch (after.holder) {
    case PortHolder::Driver:
        if (before.holder != PortHolder::Driver) {
            std::printf("device %u connected on %s\n", dev, port.c_str());
            return kExitOk;
        }
        // The port was open in the driver already: this device's, or another one's.
        for (unsigned other = 0; other < (isUsb(driver) ? 4u : 8u); ++other) {
            if (other != dev && !isUsb(driver) && storedComPort(driver, other) == com)
                return failed(notConnected + port + " is in use by device " +
                              std::to_string(other));
        }
        std::printf("device %u connected on %s (it was already)\n", dev, port.c_str());
        return kExitOk;
    case PortHolder::Other:
        return failed(notConnected + port + " is in use by another program (" + after.program +
                      ", pid " + std::to_string(after.pid) + ")");
    case PortHolder::Missing:
        return failed(notConnected + port + " does not exist");
    case PortHolder::NotSerial:
        return failed(notConnected + port + " is not a serial port (not a terminal)");
    case PortHolder::Nobody:
        break;
    }
    if (previousCom != 0 && previousCom != com && !isUsb(driver) &&
        kvr::kvrctl::inspectPort(portPath(driver, dev, previousCom), driverPid).holder ==
            PortHolder::Driver)
        return failed("device " + std::to_string(dev) + " stays connected on COM" +
                      std::to_string(previousCom) + ", not COM" + std::to_string(com) +
                      ": disconnect it first (kvrctl disconnect " + std::to_string(dev) + ")");
    return failed(notConnected + "the driver could not open " + port + " (its log says why)");
}

int connectDevice(Driver& driver, std::uint32_t code, unsigned dev, unsigned com,
                  const std::vector<std::uint8_t>& in) {
    const unsigned previousCom = isUsb(driver) ? 0 : storedComPort(driver, dev);
    if (code == IOCTL_RS232_REOPEN_COM_PORT) com = previousCom;
    if (com == 0 && !isUsb(driver))
        return failed("device " + std::to_string(dev) +
                      " has no port yet (kvrctl connect DEV COM gives it one)");
    const pid_t driverPid = kvr::kvrctl::controlDevicePid(driver.name());
    const auto before = kvr::kvrctl::inspectPort(portPath(driver, dev, com), driverPid);
    const auto r = driver.call(code, in, 1);
    if (!r) return kExitFailure;
    if (printReply(*r) != kExitOk) return kExitFailure;
    return judgeConnect(driver, dev, com, before, previousCom, driverPid);
}

// ---- kvrsim control socket ----------------------------------------------------------------

// Sends each line to kvrsim's control socket and reads its answer; then "sync", which kvrsim
// answers once everything queued has been played.
int simLines(const std::string& path, std::vector<std::string> lines) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return usage("socket path too long: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const kvr::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return failed("cannot reach kvrsim at " + path + ": " + std::strerror(errno));
    lines.push_back("sync");
    int rc = kExitOk;
    std::string pending;
    for (const auto& line : lines) {
        const std::string out = line + "\n";
        if (::send(fd.get(), out.data(), out.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(out.size()))
            return failed("kvrsim at " + path + " went away");
        std::string answer;
        for (;;) {
            const auto nl = pending.find('\n');
            if (nl != std::string::npos) {
                answer = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                break;
            }
            char buf[256];
            const ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
            if (n <= 0) {
                answer = "error: kvrsim closed the connection";
                break;
            }
            pending.append(buf, static_cast<std::size_t>(n));
        }
        if (answer != "ok") rc = failed("'" + kvr::cli::quoted(line) + "': " + answer);
    }
    return rc;
}

// The first word that is not an option (or an option's value): the subcommand.
std::optional<std::string> firstCommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--device") {
            ++i;
            continue;
        }
        if (a.starts_with("-")) continue;
        return std::string(a);
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"kvrctl: control requests to a running KvrRs232 (or KvrUsbMgr) daemon"};
    app.footer(
        "connect and reopen look at the port afterwards: exit 1 when the device did not "
        "connect,\nwith the reason (the port is missing, not a terminal, in use).\n"
        "COMn is the link $KVR_STATE_DIR/dosdevices/comN when it exists, else /dev/ttyS(n-1) "
        "for COM1-COM4,\nelse the USB serial adapters from COM5 up in the order of "
        "/dev/serial/by-id.");
    kvr::cli::prepare(app, kProgram, kvr::cli::exitStatusText());
    app.require_subcommand(1);
    std::string deviceName = "KvrRs232D";
    app.add_option("--device", deviceName, "control device name (KvrRs232D or KvrUsbMgr)");

    unsigned dev = 0, com = 0, baud = 9600, format = 0, max = 512, out = 0;
    std::vector<std::string> hex;
    std::string codeText;

    auto* connect = app.add_subcommand("connect", "connect device DEV on COM port COM (code 11)");
    connect->add_option("DEV", dev, "device index 0..7 (0..3 on KvrUsbMgr)")
        ->required()
        ->check(CLI::Range(0, 255));
    connect->add_option("COM", com, "COM port number 1..16")
        ->required()
        ->check(CLI::Range(1u, unsigned{kMaxComPort}));
    connect->add_option("--baud", baud, "baud rate (default 9600)");
    auto* formatOption =
        connect
            ->add_option("--format", format,
                         "packet format 0..4 (0 M, 2 E, 3 M with Y inverted; default: the "
                         "identification decides)")
            ->check(CLI::Range(0u, unsigned{kMaxPacketFormat}));
    auto* disconnect = app.add_subcommand("disconnect", "disconnect device DEV (code 12)");
    disconnect->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    auto* reopen = app.add_subcommand("reopen", "connect DEV again on its stored port (code 21)");
    reopen->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    std::string replugTty;
    auto* replug = app.add_subcommand(
        "replug", "a serial line appeared (udev): connect the controllers on it again");
    replug->add_option("TTY", replugTty, "the line's device (/dev/ttyUSB0)")->required();
    auto* write = app.add_subcommand("write", "send 3 to 10 bytes to the controller (code 13)");
    write->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    write->add_option("HEX", hex)->required();
    auto* read = app.add_subcommand("read", "take reply bytes from the response queue (code 14)");
    read->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    read->add_option("MAX", max, "most bytes to take (1..512)")->check(CLI::Range(1, 512));
    auto* raw = app.add_subcommand("raw", "any control code with the request bytes given");
    raw->add_option("CODE", codeText, "code (0x22002C) or function number (11)")->required();
    raw->add_option("HEX", hex);
    raw->add_option("--out", out,
                    "reply capacity in bytes (0.." + std::to_string(kvr::ipc::kMaxTransfer) + ")")
        ->check(CLI::Range(0u, kvr::ipc::kMaxTransfer));
    std::string simSocket;
    std::vector<std::string> simScenario;
    auto* sim = app.add_subcommand("sim", "play scenario lines on a kvrsim control socket");
    sim->add_option("SOCKET", simSocket)->required();
    sim->add_option("LINE", simScenario)->required();
    int watchUnit = -1;
    auto* watch = app.add_subcommand(
        "watch", "print the driver's live raw reports and pointer records until Ctrl+C "
                 "(members of the group only)");
    watch
        ->add_option("UNIT", watchUnit,
                     "device index 0..7 (0..3 on KvrUsbMgr); default: every unit")
        ->check(CLI::Range(0, 255));

    // A mistyped command is named as such, not as an unexpected argument.
    const auto known = [&](const std::string& word) {
        for (const auto* sub : app.get_subcommands([](CLI::App*) { return true; }))
            if (sub->get_name() == word) return true;
        return false;
    };
    if (const auto word = firstCommandWord(argc, argv); word && !known(*word))
        return usage("unknown command '" + kvr::cli::quoted(*word) + "' (" + kCommands + ")");
    if (auto code = kvr::cli::parse(app, argc, argv)) return *code;

    if (*sim) return simLines(simSocket, simScenario);
    if (*watch)
        return kvr::kvrctl::watchDriver(
            deviceName, watchUnit < 0 ? kWatchEveryUnit : static_cast<std::uint8_t>(watchUnit));

    Driver driver(deviceName);
    std::vector<std::uint8_t> in;
    const auto index = static_cast<std::uint8_t>(dev);
    if (*connect) {
        ::termios t{};
        if (!kvr::serial::applyBaudRate(t, baud))
            return usage("--baud " + std::to_string(baud) + " is not a rate a serial port knows");
        in.push_back(index);
        putDword(in, com);
        putDword(in, baud);
        if (formatOption->count() > 0) {
            in.push_back(static_cast<std::uint8_t>(format));
            in.resize(13, 0);
        }
        return connectDevice(driver, IOCTL_RS232_CHANGE_COM_PORT, dev, com, in);
    }
    if (*disconnect) return request(driver, IOCTL_RS232_CLOSE_COM_PORT, {index}, 0);
    if (*replug) {
        return kvr::kvrctl::replugLine(
            replugTty, [&](std::uint32_t code, const std::vector<std::uint8_t>& request) {
                const auto r = driver.call(code, request, 1);
                return r && r->ok;
            },
            kvr::kvrctl::controlDevicePid(driver.name()));
    }
    if (*reopen) return connectDevice(driver, IOCTL_RS232_REOPEN_COM_PORT, dev, 0, {index});
    if (*write || *read) {
        in.push_back(index);
        if (*read) return request(driver, IOCTL_RS232_READ_BUFFER, in, max);
        std::vector<std::uint8_t> bytes;
        if (!parseHex(hex, bytes)) return usage("bad hex bytes (pairs of hex digits: 01 47 50)");
        if (bytes.size() < 3 || bytes.size() > 10)
            return usage("write takes 3 to 10 bytes, not " + std::to_string(bytes.size()));
        in.insert(in.end(), bytes.begin(), bytes.end());
        return request(driver, IOCTL_RS232_WRITE_BUFFER, in, 0);
    }
    char* end = nullptr;
    errno = 0;
    unsigned long code = std::strtoul(codeText.c_str(), &end, 0);
    if (codeText.empty() || *end != '\0' || errno != 0 || code > 0xFFFFFFFFUL)
        return usage("bad code '" + kvr::cli::quoted(codeText) + "' (0x22002C or 11)");
    if (code < 0x1000) code = Rs232ControlCode(static_cast<std::uint32_t>(code));
    if (!parseHex(hex, in)) return usage("bad hex bytes (pairs of hex digits: 01 47 50)");
    if (in.size() > kvr::ipc::kMaxTransfer)
        return usage("at most " + std::to_string(kvr::ipc::kMaxTransfer) + " request bytes");
    return request(driver, static_cast<std::uint32_t>(code), in, out);
}
