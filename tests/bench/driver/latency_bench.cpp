// latency_bench: how long a touch packet takes from the controller's line to the pointer.
//
// Runs the real KvrRs232 daemon with the trace sink on a Unix socket, connects 1 or 8
// controllers that are ptys driven by this program, writes touch packets to the ptys' far
// ends and times each one to the record the sink writes for it (both ends read the same
// steady clock). Reports p50 / p99 / p99.9 for M and E packets, with one controller and with
// eight writing at once, and the daemon's CPU time and wake-ups per second while eight
// connected controllers are idle.
//
//   latency_bench [--packets N] [--idle-seconds S] [--daemon PATH]

#include "platform/common/unique_fd.h"
#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using kvr::UniqueFd;
using Clock = std::chrono::steady_clock;

constexpr int kMaxControllers = 8;
constexpr int kBandWidth12 = 512;

std::int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

pid_t g_daemonPid = -1; // stopped on the way out, however the bench ends

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "latency_bench: %s\n", what.c_str());
    if (g_daemonPid > 0) ::kill(g_daemonPid, SIGTERM);
    std::exit(1);
}

struct Pty {
    UniqueFd master;
    UniqueFd slaveHold; // keeps the line up while the daemon reopens it
    std::string slavePath;
};

Pty openPty() {
    Pty p;
    p.master = UniqueFd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!p.master || grantpt(p.master.get()) != 0 || unlockpt(p.master.get()) != 0) die("no pty");
    p.slavePath = ptsname(p.master.get());
    p.slaveHold = UniqueFd(::open(p.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios t{};
    tcgetattr(p.slaveHold.get(), &t);
    cfmakeraw(&t);
    tcsetattr(p.slaveHold.get(), TCSANOW, &t);
    const int flags = fcntl(p.master.get(), F_GETFL);
    fcntl(p.master.get(), F_SETFL, flags | O_NONBLOCK);
    return p;
}

void writeAll(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            die("pty write failed");
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

// Calibrated 12-bit X of controller n: the middle of its own band, so a record names it.
int rawX12Of(int n) {
    return kBandWidth12 / 2 + kBandWidth12 * n;
}

std::vector<std::uint8_t> mPacket(int x12, int y12, bool penDown) {
    const int x = x12 * 4, y = y12 * 4; // 14-bit, low half first (lead bit 4)
    return {static_cast<std::uint8_t>(0x90 | (penDown ? 0x40 : 0)),
            static_cast<std::uint8_t>(x & 0x7F), static_cast<std::uint8_t>(x >> 7),
            static_cast<std::uint8_t>(y & 0x7F), static_cast<std::uint8_t>(y >> 7)};
}

std::vector<std::uint8_t> ePacket(int x12, int y12, bool penDown) {
    std::vector<std::uint8_t> p{0x55,
                                0x54,
                                static_cast<std::uint8_t>(penDown ? 0x81 : 0x84),
                                static_cast<std::uint8_t>(x12 & 0xFF),
                                static_cast<std::uint8_t>(x12 >> 8),
                                static_cast<std::uint8_t>(y12 & 0xFF),
                                static_cast<std::uint8_t>(y12 >> 8),
                                0,
                                0,
                                0};
    std::uint8_t sum = 0xAA;
    for (int i = 0; i < 8; ++i)
        sum = static_cast<std::uint8_t>(sum + p[i]);
    p[9] = sum;
    return p;
}

class Daemon {
public:
    Daemon(const fs::path& program, const fs::path& traceSocket) {
        std::vector<std::string> args{program.string(), "--foreground", "--pointer=trace",
                                      "--trace=" + traceSocket.string(), "--log-level=warning"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            die("cannot start " + program.string());
        g_daemonPid = pid_;
    }
    ~Daemon() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        g_daemonPid = -1;
    }
    [[nodiscard]] pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// CPU ticks (user + system) and context switches (every thread) of a process.
struct Usage {
    long long ticks = 0;
    long long switches = 0;
};

Usage usageOf(pid_t pid) {
    Usage u;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close != std::string::npos) {
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) u.ticks += std::stoll(field);
            if (i == 15) u.ticks += std::stoll(field);
        }
    }
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                u.switches += std::stoll(line.substr(line.find(':') + 1));
        }
    }
    return u;
}

struct Bench {
    fs::path root;
    std::array<Pty, kMaxControllers> ptys;
    UniqueFd listenFd, traceFd;
    std::unique_ptr<Daemon> daemon;
    std::optional<kvr::ipc::ControlDevice> control;

    void start(const fs::path& program) {
        char tmpl[] = "/tmp/kvrbench.XXXXXX";
        if (!mkdtemp(tmpl)) die("no temp folder");
        root = tmpl;
        fs::create_directories(root / "state" / "dosdevices");
        fs::create_directories(root / "run");
        ::setenv("KVR_STATE_DIR", (root / "state").c_str(), 1);
        ::setenv("KVR_RUNTIME_DIR", (root / "run").c_str(), 1);
        for (int n = 0; n < kMaxControllers; ++n) {
            ptys[n] = openPty();
            fs::create_symlink(ptys[n].slavePath,
                               root / "state" / "dosdevices" / ("com" + std::to_string(n + 1)));
        }
        // The trace sink connects here; one message per record.
        listenFd = UniqueFd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string path = (root / "trace.sock").string();
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (::bind(listenFd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd.get(), 1) != 0)
            die("cannot listen on the trace socket");
        daemon = std::make_unique<Daemon>(program, path);
        pollfd pfd{listenFd.get(), POLLIN, 0};
        if (::poll(&pfd, 1, 20000) != 1) die("the daemon did not connect its trace sink");
        traceFd = UniqueFd(::accept4(listenFd.get(), nullptr, nullptr, SOCK_CLOEXEC));
        const auto until = Clock::now() + std::chrono::seconds(20);
        while (!control && Clock::now() < until) {
            control = kvr::ipc::ControlDevice::open("KvrRs232D");
            if (!control) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!control) die("the daemon's control device did not appear");
    }

    ~Bench() {
        control.reset();
        daemon.reset();
        std::error_code ec;
        if (!root.empty()) fs::remove_all(root, ec);
    }

    std::uint32_t request(std::uint32_t code, std::vector<std::uint8_t> in, std::uint32_t out) {
        std::vector<std::uint8_t> reply(std::max<std::uint32_t>(out, 1));
        std::uint32_t returned = 0, status = 0;
        control->ioctl(code, in.data(), static_cast<std::uint32_t>(in.size()), reply.data(), out,
                       &returned, -1, &status);
        return status;
    }

    // Connects controllers 0..count-1; each answers the identification with `formatDigit`.
    void connect(int count, char formatDigit) {
        std::atomic<int> done{0};
        std::vector<std::thread> requests;
        for (int n = 0; n < count; ++n) {
            requests.emplace_back([this, n, &done] {
                kvr::ipc::ControlDevice dev = *kvr::ipc::ControlDevice::open("KvrRs232D");
                std::vector<std::uint8_t> in{static_cast<std::uint8_t>(n)};
                for (std::uint32_t v : {static_cast<std::uint32_t>(n + 1), 9600U})
                    for (int i = 0; i < 4; ++i)
                        in.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
                std::uint8_t reply[4];
                std::uint32_t returned = 0;
                dev.ioctl(kvr::control::IOCTL_RS232_CHANGE_COM_PORT, in.data(), 9, reply, 1,
                          &returned);
                ++done;
            });
        }
        // Play the controllers' part of the greeting while the connects run.
        std::vector<std::string> heard(count);
        while (done.load() < count) {
            for (int n = 0; n < count; ++n) {
                std::uint8_t buf[256];
                const ssize_t r = ::read(ptys[n].master.get(), buf, sizeof buf);
                if (r <= 0) continue;
                heard[n].append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(r));
                if (heard[n].find("\x01Uu\r") != std::string::npos) {
                    std::string id = std::string("Lumarcon0") + formatDigit;
                    writeAll(ptys[n].master.get(), reinterpret_cast<const std::uint8_t*>(id.data()),
                             id.size());
                    heard[n].clear();
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        for (auto& t : requests)
            t.join();
        drainMasters();
    }

    void disconnect(int count) {
        for (int n = 0; n < count; ++n)
            request(kvr::control::IOCTL_RS232_CLOSE_COM_PORT, {static_cast<std::uint8_t>(n)}, 0);
    }

    void drainMasters() {
        for (auto& p : ptys) {
            std::uint8_t buf[256];
            while (::read(p.master.get(), buf, sizeof buf) > 0) {
            }
        }
    }

    // Receives one trace record: its time and X. False after a long silence.
    bool receive(std::int64_t& timeUs, int& x) {
        pollfd pfd{traceFd.get(), POLLIN, 0};
        if (::poll(&pfd, 1, 2000) != 1) return false;
        char line[128];
        const ssize_t n = ::recv(traceFd.get(), line, sizeof line - 1, 0);
        if (n <= 0) return false;
        line[n] = '\0';
        long long t = 0;
        int y = 0;
        unsigned flags = 0;
        if (std::sscanf(line, "%lld %d %d %u", &t, &x, &y, &flags) != 4) return false;
        timeUs = t;
        return true;
    }

    // Latencies in µs of `packets` records, `count` controllers writing one packet each per
    // round at the same time.
    std::vector<double> run(int count, bool e, int packets) {
        std::vector<double> latencies;
        latencies.reserve(static_cast<std::size_t>(packets));
        const auto make = [e](int x, int y, bool down) {
            return e ? ePacket(x, y, down) : mPacket(x, y, down);
        };
        std::array<std::int64_t, kMaxControllers> sentAt{};
        int lost = 0;
        while (static_cast<int>(latencies.size()) < packets) {
            for (int n = 0; n < count; ++n) {
                const auto p = make(rawX12Of(n), 2048, true);
                sentAt[n] = nowUs();
                writeAll(ptys[n].master.get(), p.data(), p.size());
            }
            for (int got = 0; got < count; ++got) {
                std::int64_t t = 0;
                int x = 0;
                if (!receive(t, x)) {
                    ++lost;
                    break;
                }
                const int n =
                    std::clamp(x / (65535 * kBandWidth12 / 4095 + 1), 0, kMaxControllers - 1);
                latencies.push_back(static_cast<double>(t - sentAt[n]));
            }
            if (lost > 3) die("records stopped arriving");
        }
        // Lift every pen so the next run starts with a fresh touch.
        for (int n = 0; n < count; ++n) {
            const auto p = make(rawX12Of(n), 2048, false);
            writeAll(ptys[n].master.get(), p.data(), p.size());
        }
        for (int got = 0; got < count; ++got) {
            std::int64_t t = 0;
            int x = 0;
            if (!receive(t, x)) break;
        }
        drainMasters();
        return latencies;
    }
};

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto i = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    int packets = 10000;
    int idleSeconds = 5;
    fs::path program = fs::path(KVR_BIN_DIR) / "KvrRs232";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--packets")
            packets = std::max(100, std::atoi(argv[i + 1]));
        else if (opt == "--idle-seconds")
            idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        else if (opt == "--daemon")
            program = argv[i + 1];
        else
            die("usage: latency_bench [--packets N] [--idle-seconds S] [--daemon PATH]");
    }
    ::signal(SIGPIPE, SIG_IGN);

    Bench bench;
    bench.start(program);
    std::printf("latency_bench: line write -> pointer record, %d packets per case (microseconds)\n",
                packets);
    std::printf("%-6s %-12s %10s %10s %10s %10s\n", "format", "controllers", "p50", "p99", "p99.9",
                "max");
    for (const char format : {'0', '2'}) {
        bench.connect(kMaxControllers, format);
        for (const int count : {1, kMaxControllers}) {
            const auto lat = bench.run(count, format == '2', packets);
            std::printf("%-6s %-12d %10.0f %10.0f %10.0f %10.0f\n", format == '2' ? "E" : "M",
                        count, percentile(lat, 50), percentile(lat, 99), percentile(lat, 99.9),
                        percentile(lat, 100));
            std::fflush(stdout);
        }
        bench.disconnect(kMaxControllers);
    }

    // Eight connected controllers, nothing on their lines.
    bench.connect(kMaxControllers, '0');
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const Usage before = usageOf(bench.daemon->pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Usage after = usageOf(bench.daemon->pid());
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::printf("idle, 8 connected controllers, %d s: CPU %.3f ms/s, %.2f context switches/s\n",
                idleSeconds,
                static_cast<double>(after.ticks - before.ticks) * 1000.0 / ticksPerSecond /
                    idleSeconds,
                static_cast<double>(after.switches - before.switches) / idleSeconds);
    bench.disconnect(kMaxControllers);
    return 0;
}
