// kvrctl: sends control requests to a running driver's control device, for the demo, for
// scripts and for people looking at a live system.
//
//   kvrctl connect DEV COM [--baud B] [--format F]   control code 11
//   kvrctl disconnect DEV                            code 12
//   kvrctl reopen DEV                                code 21
//   kvrctl write DEV HEX...                          code 13 (3 to 10 bytes to the controller)
//   kvrctl read DEV [MAX]                            code 14 (bytes from the response queue)
//   kvrctl raw CODE [HEX...] [--out N]               any code, request bytes as given
//   kvrctl sim SOCKET LINE...                        scenario lines to a kvrsim control
//                                                    socket, then waits until they are played
// --device NAME picks the control device (default KvrRs232D; KvrUsbMgr for the USB role).
// Prints the completion status and the reply bytes in hex; exits 0 on a success status.

#include "driver/control/control_codes.h"
#include "platform/ipc/control_device.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

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

int request(const std::string& deviceName, std::uint32_t code, const std::vector<std::uint8_t>& in,
            std::uint32_t outLength) {
    auto dev = kvr::ipc::ControlDevice::open(deviceName);
    if (!dev) {
        std::fprintf(stderr, "kvrctl: cannot open \\\\.\\%s (is the driver running?)\n",
                     deviceName.c_str());
        return 2;
    }
    std::vector<std::uint8_t> out(outLength);
    std::uint32_t returned = 0, status = 0;
    const bool ok =
        dev->ioctl(code, in.data(), static_cast<std::uint32_t>(in.size()),
                   out.empty() ? nullptr : out.data(), outLength, &returned, -1, &status);
    std::printf("status 0x%08X, %u byte(s)", status, returned);
    for (std::uint32_t i = 0; i < returned && i < out.size(); ++i)
        std::printf(" %02X", out[i]);
    std::printf("\n");
    return ok ? 0 : 1;
}

// Sends each line to kvrsim's control socket and reads its answer; then "sync", which kvrsim
// answers once everything queued has been played.
int simLines(const std::string& path, std::vector<std::string> lines) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "kvrctl: socket path too long\n");
        return 2;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "kvrctl: cannot reach kvrsim at %s\n", path.c_str());
        if (fd >= 0) ::close(fd);
        return 2;
    }
    lines.push_back("sync");
    int rc = 0;
    std::string pending;
    for (const auto& line : lines) {
        const std::string out = line + "\n";
        if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
            rc = 2;
            break;
        }
        std::string answer;
        for (;;) {
            const auto nl = pending.find('\n');
            if (nl != std::string::npos) {
                answer = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                break;
            }
            char buf[256];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                answer = "error: kvrsim closed the connection";
                break;
            }
            pending.append(buf, static_cast<std::size_t>(n));
        }
        if (answer != "ok") {
            std::fprintf(stderr, "kvrctl: '%s': %s\n", line.c_str(), answer.c_str());
            rc = 1;
        }
    }
    ::close(fd);
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    using namespace kvr::driver;
    CLI::App app{"kvrctl: control requests to a running KvrRs232 (or KvrUsbMgr) daemon"};
    app.require_subcommand(1);
    std::string deviceName = "KvrRs232D";
    app.add_option("--device", deviceName, "control device name (KvrRs232D or KvrUsbMgr)");

    unsigned dev = 0, com = 0, baud = 9600, format = 256, max = 512, out = 0;
    std::vector<std::string> hex;
    std::string codeText;

    auto* connect = app.add_subcommand("connect", "connect device DEV on COM port COM (code 11)");
    connect->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    connect->add_option("COM", com)->required();
    connect->add_option("--baud", baud, "baud rate (default 9600)");
    connect->add_option("--format", format, "packet format byte (0 M, 2 E, 3 M with Y inverted)")
        ->check(CLI::Range(0, 255));
    auto* disconnect = app.add_subcommand("disconnect", "disconnect device DEV (code 12)");
    disconnect->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    auto* reopen = app.add_subcommand("reopen", "connect DEV again on its stored port (code 21)");
    reopen->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    auto* write = app.add_subcommand("write", "send 3 to 10 bytes to the controller (code 13)");
    write->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    write->add_option("HEX", hex)->required();
    auto* read = app.add_subcommand("read", "take reply bytes from the response queue (code 14)");
    read->add_option("DEV", dev)->required()->check(CLI::Range(0, 255));
    read->add_option("MAX", max, "most bytes to take (1..512)");
    auto* raw = app.add_subcommand("raw", "any control code with the request bytes given");
    raw->add_option("CODE", codeText, "code (0x22002C) or function number (11)")->required();
    raw->add_option("HEX", hex);
    raw->add_option("--out", out, "reply capacity in bytes");
    std::string simSocket;
    std::vector<std::string> simScenario;
    auto* sim = app.add_subcommand("sim", "play scenario lines on a kvrsim control socket");
    sim->add_option("SOCKET", simSocket)->required();
    sim->add_option("LINE", simScenario)->required();
    CLI11_PARSE(app, argc, argv);

    if (*sim) return simLines(simSocket, simScenario);

    std::vector<std::uint8_t> in;
    const auto index = static_cast<std::uint8_t>(dev);
    if (*connect) {
        in.push_back(index);
        putDword(in, com);
        putDword(in, baud);
        if (format <= 255) {
            in.push_back(static_cast<std::uint8_t>(format));
            in.resize(13, 0);
        }
        return request(deviceName, IOCTL_RS232_CHANGE_COM_PORT, in, 1);
    }
    if (*disconnect) return request(deviceName, IOCTL_RS232_CLOSE_COM_PORT, {index}, 0);
    if (*reopen) return request(deviceName, IOCTL_RS232_REOPEN_COM_PORT, {index}, 1);
    if (*write || *read) {
        in.push_back(index);
        if (*read) return request(deviceName, IOCTL_RS232_READ_BUFFER, in, max);
        std::vector<std::uint8_t> bytes;
        if (!parseHex(hex, bytes)) {
            std::fprintf(stderr, "kvrctl: bad hex bytes\n");
            return 2;
        }
        in.insert(in.end(), bytes.begin(), bytes.end());
        return request(deviceName, IOCTL_RS232_WRITE_BUFFER, in, 0);
    }
    char* end = nullptr;
    unsigned long code = std::strtoul(codeText.c_str(), &end, 0);
    if (*end != '\0' || code > 0xFFFFFFFFUL) {
        std::fprintf(stderr, "kvrctl: bad code %s\n", codeText.c_str());
        return 2;
    }
    if (code < 0x1000) code = Rs232ControlCode(static_cast<std::uint32_t>(code));
    if (!parseHex(hex, in)) {
        std::fprintf(stderr, "kvrctl: bad hex bytes\n");
        return 2;
    }
    return request(deviceName, static_cast<std::uint32_t>(code), in, out);
}
