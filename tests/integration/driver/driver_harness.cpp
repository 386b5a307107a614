#include "tests/integration/driver/driver_harness.h"

#include "platform/ipc/control_codes.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

namespace kvr::test::driver {

using namespace kvr::control;

void putDword(std::vector<std::uint8_t>& buf, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        buf.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t getDword(const std::vector<std::uint8_t>& buf, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4 && at + i < buf.size(); ++i)
        v |= static_cast<std::uint32_t>(buf[at + i]) << (8 * i);
    return v;
}

std::vector<Greeting> greetingsLogged(const std::string& daemonLog, std::uint8_t device) {
    const std::string prefix = "device " + std::to_string(device) + ": identification reply ";
    std::vector<Greeting> out;
    for (auto at = daemonLog.find(prefix); at != std::string::npos;
         at = daemonLog.find(prefix, at + 1)) {
        Greeting g;
        if (std::sscanf(daemonLog.c_str() + at + prefix.size(), "%zu bytes, display reply %zu",
                        &g.identification, &g.display) == 2)
            out.push_back(g);
    }
    return out;
}

bool greetedInTime(const Greeting& greeting, const emu::ControllerProfile& profile) {
    constexpr std::size_t kIdentificationBytes = 10, kDisplayBytes = 6;
    const std::size_t id = profile.mute ? 0 : profile.identification().size();
    return greeting.identification == std::min(id, kIdentificationBytes) &&
           greeting.display == (profile.mute ? 0 : kDisplayBytes);
}

bool connectUntilGreeted(const ChildProcess& daemon, Client& client, std::uint8_t device,
                         const emu::ControllerProfile& profile,
                         const std::function<bool()>& connect) {
    const auto greetings = [&] { return greetingsLogged(daemon.stderrText(), device); };
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::size_t before = greetings().size();
        if (!connect()) return false;
        std::vector<Greeting> seen;
        if (!waitUntil([&] { return (seen = greetings()).size() > before; })) return false;
        if (greetedInTime(seen.back(), profile)) return true;
        client.disconnect(device);
    }
    return false;
}

// ---- Daemon -------------------------------------------------------------------------------------

Daemon::Daemon(bool usb, std::vector<std::string> extraArgs, std::filesystem::path trace)
    : name_(usb ? "KvrUsbMgr" : "KvrRs232D"), trace_(std::move(trace)) {
    if (trace_.empty()) trace_ = makeTempDir("trace") / "pointer.trace";
    std::vector<std::string> args{"--foreground", "--pointer=trace", "--trace=" + trace_.string(),
                                  "--log-level=debug"};
    if (usb) args.push_back("--usb");
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<ChildProcess>(program("KvrRs232"), args);
    ready_ = waitUntil([&] {
                 std::error_code ec;
                 return std::filesystem::exists(socketPath(), ec) || !process_->running();
             }) &&
             process_->running();
}

Daemon::~Daemon() {
    process_->stop();
}

std::filesystem::path Daemon::socketPath() const {
    return runtimeDir() / "dev" / name_;
}

std::vector<TraceRecord> Daemon::records() const {
    std::vector<TraceRecord> out;
    std::ifstream in(trace_);
    std::string line;
    while (std::getline(in, line)) {
        if (in.eof()) break; // a line still being written
        std::istringstream ls(line);
        TraceRecord r;
        unsigned flags = 0;
        if (ls >> r.timeUs >> r.x >> r.y >> flags) {
            r.flags = static_cast<std::uint16_t>(flags);
            out.push_back(r);
        }
    }
    return out;
}

std::vector<TraceRecord> Daemon::waitRecords(std::size_t count,
                                             std::chrono::milliseconds deadline) const {
    std::vector<TraceRecord> got;
    waitUntil(
        [&] {
            got = records();
            return got.size() >= count;
        },
        deadline);
    return got;
}

// ---- Sim ----------------------------------------------------------------------------------------

emu::ControllerProfile Sim::defaultProfile() {
    return *emu::profileByName("nvlt3000");
}
emu::ControllerProfile Sim::profile(const std::string& name) {
    return *emu::profileByName(name);
}

Sim::Sim(const std::string& link, emu::ControllerProfile profile) {
    emu::PtyOptions options;
    options.profile = std::move(profile);
    options.link = link;
    std::string error;
    pty_ = emu::PtyEmulator::start(std::move(options), &error);
}

bool Sim::play(const std::vector<std::string>& lines) {
    for (const auto& l : lines) {
        std::string error;
        if (!pty_->execute(l, &error)) return false;
    }
    return pty_->waitIdle(std::chrono::seconds(20));
}

std::vector<emu::FrameRecord> Sim::frames() const {
    return pty_->frames();
}

std::vector<std::string> Sim::frameTexts() const {
    std::vector<std::string> out;
    for (const auto& f : pty_->frames()) {
        if (f.stray) continue;
        std::string text(f.bytes.begin(), f.bytes.end());
        if (!text.empty() && text.front() == '\x01') text.erase(0, 1);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        out.push_back(text);
    }
    return out;
}

bool Sim::waitFrame(const std::string& text, std::size_t count,
                    std::chrono::milliseconds deadline) const {
    return waitUntil(
        [&] {
            std::size_t n = 0;
            for (const auto& t : frameTexts())
                n += t == text ? 1 : 0;
            return n >= count;
        },
        deadline);
}

// ---- Client -------------------------------------------------------------------------------------

Client::Client(const std::string& device) : dev_(ipc::ControlDevice::open(device)) {}

Client::Result Client::ioctl(std::uint32_t code, const std::vector<std::uint8_t>& in,
                             std::uint32_t outLength, int passFd) {
    Result r;
    if (!dev_) return r;
    r.reply.resize(outLength);
    std::uint32_t returned = 0;
    dev_->ioctl(code, in.empty() ? nullptr : in.data(), static_cast<std::uint32_t>(in.size()),
                r.reply.empty() ? nullptr : r.reply.data(), outLength, &returned, passFd,
                &r.status);
    r.reply.resize(std::min<std::size_t>(returned, r.reply.size()));
    return r;
}

bool Client::connect(std::uint8_t device, std::uint32_t com, std::uint32_t baud,
                     std::optional<std::uint8_t> format) {
    std::vector<std::uint8_t> in{device};
    putDword(in, com);
    putDword(in, baud);
    if (format) {
        in.push_back(*format);
        in.resize(13, 0);
    }
    const Result r = ioctl(IOCTL_RS232_CHANGE_COM_PORT, in, 1);
    return r.status == 0 && r.reply.size() == 1 && r.reply[0] == 1;
}

std::uint32_t Client::disconnect(std::uint8_t device) {
    return ioctl(IOCTL_RS232_CLOSE_COM_PORT, {device}, 0).status;
}

Client::Result Client::reopen(std::uint8_t device) {
    return ioctl(IOCTL_RS232_REOPEN_COM_PORT, {device}, 1);
}

std::uint32_t Client::write(std::uint8_t device, const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> in(bytes.size() + 1);
    in[0] = device;
    std::copy(bytes.begin(), bytes.end(), in.begin() + 1);
    return ioctl(IOCTL_RS232_WRITE_BUFFER, in, 0).status;
}

std::vector<std::uint8_t> Client::read(std::uint8_t device, std::uint32_t max) {
    return ioctl(IOCTL_RS232_READ_BUFFER, {device}, max).reply;
}

std::uint32_t Client::readLength(std::uint8_t device) {
    return getDword(ioctl(IOCTL_RS232_READ_LENGTH, {device}, 4).reply, 0);
}

bool Client::setReportMode(std::uint8_t device, std::uint8_t mode) {
    const Result r = ioctl(IOCTL_RS232_SET_REPORT_MODE, {device, mode}, 1);
    return r.status == 0 && r.reply.size() == 1 && r.reply[0] == 1;
}

std::uint8_t Client::currentComPort(std::uint8_t device) {
    const Result r = ioctl(IOCTL_RS232_CURRENT_COM_PORT, {device}, 1);
    return r.reply.empty() ? 0xFF : r.reply[0];
}

} // namespace kvr::test::driver
