// kvrsim as a program on a real pty: the bytes a port user sees, the receive log, the control
// socket, faults, hang-up and the link's life cycle.
#include "emulator/control_client.h"
#include "emulator/frame_log.h"
#include "emulator/pty_emulator.h"
#include "platform/common/unique_fd.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace kvr::emu {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes frameOf(std::string_view text) {
    Bytes b;
    b.push_back(0x01);
    for (const char c : text)
        b.push_back(static_cast<uint8_t>(c));
    b.push_back(0x0D);
    return b;
}
Bytes join(Bytes a, const Bytes& b) {
    for (const auto v : b)
        a.push_back(v);
    return a;
}
const Bytes kAck = {0x01, '0', 0x0D};
const Bytes kRefused = {0x01, '1', 0x0D};
const Bytes kAnnounce = {0x01, 'i', 'T', 0x0D};

std::string hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (const auto v : b) {
        std::snprintf(buf, sizeof buf, "%02X ", v);
        s += buf;
    }
    return s;
}

// The port end of the line, opened the way a serial program opens it.
class Port {
public:
    explicit Port(const fs::path& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (!fd_) return;
        termios t{};
        ::tcgetattr(fd_.get(), &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd_.get(), TCSANOW, &t);
    }
    [[nodiscard]] bool ok() const { return fd_.valid(); }
    void write(const Bytes& b) {
        ASSERT_EQ(::write(fd_.get(), b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // Exactly n bytes, or what came before the deadline.
    Bytes read(size_t n, std::chrono::milliseconds deadline = 10s) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (got.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd_.get(), POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            if (p.revents & (POLLHUP | POLLERR)) {
                hungUp_ = true;
                break;
            }
            uint8_t buf[256];
            const ssize_t r = ::read(fd_.get(), buf, std::min(sizeof buf, n - got.size()));
            if (r <= 0) {
                hungUp_ = true;
                break;
            }
            got.insert(got.end(), buf, buf + r);
        }
        return got;
    }
    Bytes exchange(std::string_view command, size_t replyBytes) {
        write(frameOf(command));
        return read(replyBytes);
    }
    [[nodiscard]] bool hungUp() const { return hungUp_; }

private:
    UniqueFd fd_;
    bool hungUp_ = false;
};

// The control socket through the library's client; "no connection" answers every line with "".
class Control {
public:
    explicit Control(const fs::path& path) {
        std::string error;
        client_ = ControlClient::connect(path, &error);
        if (!client_) ADD_FAILURE() << error;
    }
    [[nodiscard]] bool ok() const { return client_ != nullptr; }
    std::string say(const std::string& line) { return client_ ? client_->say(line) : ""; }
    std::string readLine() { return client_ ? client_->readLine() : ""; }

private:
    std::unique_ptr<ControlClient> client_;
};

// kvrsim started for one test, with its link, receive log and control socket.
struct Sim {
    explicit Sim(std::vector<std::string> extra, std::string link = "COM4")
        : dir(test::makeTempDir("kvrsim")), log(dir / "frames.log"), control(dir / "ctl"),
          linkPath(test::stateDir() / "dosdevices" / dosDeviceLinkName(link)),
          proc(makeProcess(std::move(extra), link)) {}

    fs::path dir, log, control, linkPath;
    test::ChildProcess proc;

    test::ChildProcess makeProcess(std::vector<std::string> extra, const std::string& link) {
        std::vector<std::string> args = {"--link",     link,        "--frame-log",
                                         log.string(), "--control", control.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return test::ChildProcess(test::program("kvrsim"), args);
    }
    // The pty paths printed so far.
    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::istringstream in(proc.stdoutText());
        std::string l;
        while (std::getline(in, l))
            out.push_back(l);
        return out;
    }
    bool ready() {
        return test::waitUntil([&] { return !lines().empty() && fs::exists(control); }) ||
               (ADD_FAILURE() << proc.stderrText(), false);
    }
};

// ---- commands over the line ----------------------------------------------------------------

TEST(KvrsimLine, EveryCommandRepliesByteForByte) {
    Sim sim({"--restart-ms", "100"});
    ASSERT_TRUE(sim.ready());
    EXPECT_TRUE(fs::is_symlink(sim.linkPath));
    EXPECT_EQ(fs::read_symlink(sim.linkPath).string(), sim.lines()[0]);
    Port port(sim.linkPath);
    ASSERT_TRUE(port.ok());

    const std::pair<const char*, Bytes> cases[] = {
        {"GP9E", frameOf("0000")},
        {"GP01", frameOf("1403")},
        {"SP0112AB", kAck},
        {"GP01", frameOf("12AB")},
        {"GPA3", frameOf("C0DE")},
        {"UT", frameOf("NVLT3000")},
        {"OI", frameOf("V32110")},
        {"ii", frameOf("0004")},
        {"Uu", bytesOf("Lumarcon00")},
        {"Z", kAck},
        {"CR", kAck},
        {"PL", kAck},
        {"iH1", kAck},
        {"SE2", kAck},
        {"GP9C", frameOf("0280")},
        {"MI", kAck},
        {"MP", kAck},
        {"MS", kAck},
        {"R", join(kAck, kAnnounce)},
        {"RD", join(kAck, kAnnounce)},
        {"GP01", frameOf("1403")},
        {"XY", kRefused},
        {"SE7", kRefused},
        {"GPZZ", kRefused},
    };
    std::vector<Bytes> sent;
    for (const auto& [command, reply] : cases) {
        SCOPED_TRACE(command);
        EXPECT_EQ(hex(port.exchange(command, reply.size())), hex(reply));
        sent.push_back(frameOf(command));
    }
    // Noise on the line is logged and not answered: the next reply is the next command's own.
    port.write(bytesOf("noise"));
    EXPECT_EQ(port.exchange("Z", 3), kAck);

    // The receive log holds exactly the bytes that went over the wire, in order.
    std::vector<FrameRecord> log;
    ASSERT_TRUE(test::waitUntil([&] {
        log = readFrameLog(sim.log);
        return log.size() >= sent.size() + 2;
    }));
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_FALSE(log[i].stray);
        EXPECT_EQ(hex(log[i].bytes), hex(sent[i])) << i;
    }
    EXPECT_TRUE(log[sent.size()].stray);
    EXPECT_EQ(log[sent.size()].bytes, bytesOf("noise"));
    EXPECT_EQ(log[sent.size() + 1].bytes, frameOf("Z"));

    // The control socket shows the same log.
    Control control(sim.control);
    ASSERT_TRUE(control.ok());
    EXPECT_EQ(control.say("sync"), "ok");
    ASSERT_EQ(control.say("frames"), formatFrameRecord(log[0]));
    for (size_t i = 1; i < log.size(); ++i)
        EXPECT_EQ(control.readLine(), formatFrameRecord(log[i]));
    EXPECT_EQ(control.readLine(), "end");
}

TEST(KvrsimLine, SettingsKeptAcrossResetRestoredByDefaults) {
    Sim sim({"--restart-ms", "50", "--set", "05=0A0B"});
    ASSERT_TRUE(sim.ready());
    Port port(sim.linkPath);
    ASSERT_TRUE(port.ok());
    EXPECT_EQ(port.exchange("GP05", 6), frameOf("0A0B")) << "--set gives the power-on word";
    EXPECT_EQ(port.exchange("SP05BEEF", 3), kAck);
    EXPECT_EQ(port.exchange("SP9F1450", 3), kAck);
    EXPECT_EQ(port.exchange("R", 7), join(kAck, kAnnounce));
    EXPECT_EQ(port.exchange("GP05", 6), frameOf("BEEF"));
    EXPECT_EQ(port.exchange("GP9F", 6), frameOf("1450"));
    EXPECT_EQ(port.exchange("RD", 7), join(kAck, kAnnounce));
    EXPECT_EQ(port.exchange("GP05", 6), frameOf("0A0B"));
    EXPECT_EQ(port.exchange("GP9F", 6), frameOf("32FA"));
}

// ---- touch streams -------------------------------------------------------------------------

TEST(KvrsimTouch, ControlSocketTouchesInEachFormat) {
    // X = 1000 (halves 07, 68), Y = 2000 (halves 0F, 50); E checksums worked out in
    // tests/unit/emulator/packets_test.cpp.
    const struct {
        const char* profile;
        Bytes down, up;
    } cases[] = {
        {"nvlt3000", {0xD0, 0x68, 0x07, 0x50, 0x0F}, {0x90, 0x68, 0x07, 0x50, 0x0F}},
        {"nvlt3000-hf", {0xC0, 0x07, 0x68, 0x0F, 0x50}, {0x80, 0x07, 0x68, 0x0F, 0x50}},
        {"nvlt3000-e",
         {0x55, 0x54, 0x81, 0xE8, 0x03, 0xD0, 0x07, 0x00, 0x00, 0x96},
         {0x55, 0x54, 0x84, 0xE8, 0x03, 0xD0, 0x07, 0x00, 0x00, 0x99}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.profile);
        Sim sim({"--profile", c.profile});
        ASSERT_TRUE(sim.ready());
        Port port(sim.linkPath);
        Control control(sim.control);
        ASSERT_TRUE(port.ok() && control.ok());
        EXPECT_EQ(control.say("tap 1000 2000 2"), "ok");
        EXPECT_EQ(control.say("sync"), "ok");
        EXPECT_EQ(hex(port.read(c.down.size() * 3)), hex(join(join(c.down, c.down), c.up)));
        // Switched off, the controller sends nothing; the next thing on the line is a reply.
        EXPECT_EQ(port.exchange("MI", 3), kAck);
        EXPECT_EQ(control.say("tap 1000 2000 2"), "ok");
        EXPECT_EQ(control.say("sync"), "ok");
        EXPECT_EQ(port.exchange("MP", 3), kAck);
        EXPECT_EQ(control.say("tap 1000 2000 5"), "ok");
        EXPECT_EQ(control.say("sync"), "ok");
        EXPECT_EQ(hex(port.exchange("Z", c.down.size() + 3)), hex(join(c.down, kAck)));
        EXPECT_EQ(control.say("bogus"), "error: unknown statement 'bogus'");
    }
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(KvrsimTouch, ScenarioFileMatchesItsGoldenStream) {
    const fs::path data = test::sourceDir() / "tests/data/emulator";
    // Rendered in simulated time...
    const auto r =
        test::runProgram(test::program("kvrsim"),
                         {"--scenario", (data / "tap_drag.scn").string(), "--write-stream", "-"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, slurp(data / "tap_drag.m.hex"));
    // ...and played on the line from the start.
    Sim sim({"--scenario", (data / "tap_drag.scn").string()});
    ASSERT_TRUE(sim.ready());
    Port port(sim.linkPath);
    ASSERT_TRUE(port.ok());
    std::string golden = slurp(data / "tap_drag.m.hex");
    Bytes want;
    std::istringstream in(golden);
    std::string tok;
    while (in >> tok)
        want.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    EXPECT_EQ(hex(port.read(want.size())), hex(want));
}

// ---- faults ----------------------------------------------------------------------------------

TEST(KvrsimFaults, EachFaultOnTheLine) {
    Sim sim({"--fault", "late 300 1"});
    ASSERT_TRUE(sim.ready());
    Port port(sim.linkPath);
    Control control(sim.control);
    ASSERT_TRUE(port.ok() && control.ok());

    // Late: the reply takes at least the delay (no upper bound: machines are slow at times).
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(port.exchange("GP01", 6), frameOf("1403"));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 300ms);

    EXPECT_EQ(control.say("fault garble 1"), "ok");
    EXPECT_EQ(port.exchange("Z", 3), (Bytes{0x41, 0x70, 0x4D}));
    EXPECT_EQ(control.say("fault cut 5 1"), "ok");
    EXPECT_EQ(port.exchange("UT", 5), bytesOf("\x01NVLT"));
    EXPECT_EQ(control.say("fault silence 1"), "ok");
    port.write(frameOf("UT"));
    EXPECT_EQ(port.exchange("Z", 3), kAck) << "the silenced UT left nothing on the line";
    EXPECT_EQ(control.say("fault nak 1"), "ok");
    EXPECT_EQ(port.exchange("SP010000", 3), kRefused);
    EXPECT_EQ(control.say("fault drop 2 3"), "ok");
    // Every 2nd byte sent is lost, three in all: SOH N V L T 3 0 0 0 CR loses N, L and 3.
    EXPECT_EQ(port.exchange("UT", 7), bytesOf("\x01VT000\r"));
    EXPECT_EQ(port.exchange("Z", 3), kAck);
}

TEST(KvrsimFaults, HangUpThenReconnect) {
    Sim sim({});
    ASSERT_TRUE(sim.ready());
    const std::string first = sim.lines()[0];
    Port port(sim.linkPath);
    Control control(sim.control);
    ASSERT_TRUE(port.ok() && control.ok());
    EXPECT_EQ(port.exchange("Z", 3), kAck);
    EXPECT_EQ(control.say("hangup"), "ok");
    EXPECT_TRUE(port.read(1).empty());
    EXPECT_TRUE(port.hungUp()) << "the port sees the hang-up, not silence";

    EXPECT_EQ(control.say("reconnect"), "ok");
    ASSERT_TRUE(test::waitUntil([&] { return sim.lines().size() == 2; }));
    const std::string second = sim.lines()[1];
    EXPECT_NE(second, first);
    ASSERT_TRUE(test::waitUntil([&] { return fs::read_symlink(sim.linkPath).string() == second; }));
    Port again(sim.linkPath);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.exchange("GP01", 6), frameOf("1403"));
}

TEST(KvrsimFaults, RandomBytesOnTheLineDoNoHarm) {
    Sim sim({"--restart-ms", "10"});
    ASSERT_TRUE(sim.ready());
    Port port(sim.linkPath);
    ASSERT_TRUE(port.ok());
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> any(0, 255), pick(0, 7);
    const std::string letters = "GPSRDMIZUuTO0123456789ABCDEF";
    Bytes noise(64 * 1024);
    for (auto& b : noise) {
        const int p = pick(rng);
        b = p == 0   ? 0x01
            : p == 1 ? 0x0D
            : p < 5  ? static_cast<uint8_t>(letters[static_cast<size_t>(any(rng)) % letters.size()])
                     : static_cast<uint8_t>(any(rng));
    }
    for (size_t at = 0; at < noise.size(); at += 512) {
        port.write(Bytes(noise.begin() + static_cast<long>(at),
                         noise.begin() + static_cast<long>(at + 512)));
        port.read(4096, 1ms); // keep the replies to the noise from filling the line
    }
    // Whatever the noise left half-received ends at this CR; then a word of our own.
    port.write(join(join({0x0D}, frameOf("SP77BEEF")), frameOf("GP77")));
    const Bytes tail = join(kAck, frameOf("BEEF"));
    Bytes got;
    ASSERT_TRUE(test::waitUntil([&] {
        const Bytes more = port.read(4096, 10ms);
        got.insert(got.end(), more.begin(), more.end());
        // A restart announcement asked for by the noise may still follow our reply.
        return std::search(got.begin(), got.end(), tail.begin(), tail.end()) != got.end();
    })) << hex(Bytes(got.end() - std::min<long>(32, static_cast<long>(got.size())), got.end()));
    EXPECT_TRUE(sim.proc.running());
}

// ---- the program -----------------------------------------------------------------------------

TEST(KvrsimProgram, StopsCleanlyAndRemovesItsLink) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        Sim sim({}, "usb1");
        ASSERT_TRUE(sim.ready());
        EXPECT_EQ(sim.linkPath.filename(), "usb1");
        EXPECT_TRUE(fs::is_symlink(sim.linkPath));
        ASSERT_TRUE(sim.proc.signal(sig));
        const auto status = sim.proc.wait();
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), 0);
        EXPECT_FALSE(fs::exists(fs::symlink_status(sim.linkPath)));
        EXPECT_FALSE(fs::exists(sim.control));
    }
    Sim sim({});
    ASSERT_TRUE(sim.ready());
    Control control(sim.control);
    EXPECT_EQ(control.say("quit"), "ok");
    const auto status = sim.proc.wait();
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(sim.linkPath)));
}

// A name that is taken is refused and left alone; with --replace it is taken over and put
// back at the end. A link a killed kvrsim left behind (its pty gone) is simply replaced.
TEST(KvrsimProgram, TakenLinkIsRefusedOrReplacedAndPutBack) {
    const fs::path dir = test::stateDir() / "dosdevices";
    fs::create_directories(dir);
    fs::create_symlink("/dev/ttyUSB7", dir / "com2");
    std::ofstream(dir / "com3") << "not a link";
    for (const char* port : {"COM2", "COM3"}) {
        SCOPED_TRACE(port);
        const auto r = test::runProgram(test::program("kvrsim"), {"--link", port});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(std::string("kvrsim: ") + port + " is taken: "), std::string::npos);
    }
    EXPECT_EQ(fs::read_symlink(dir / "com2"), "/dev/ttyUSB7");
    {
        Sim sim({"--replace"}, "COM2");
        ASSERT_TRUE(sim.ready());
        EXPECT_EQ(fs::read_symlink(dir / "com2").string(), sim.lines()[0]);
        ASSERT_TRUE(sim.proc.signal(SIGTERM));
        ASSERT_TRUE(sim.proc.wait());
    }
    EXPECT_EQ(fs::read_symlink(dir / "com2"), "/dev/ttyUSB7");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

    fs::create_symlink("/dev/pts/999999", dir / "com5");
    Sim stale({}, "COM5");
    ASSERT_TRUE(stale.ready());
    EXPECT_EQ(fs::read_symlink(dir / "com5").string(), stale.lines()[0]);
}

TEST(KvrsimProgram, HelpAndBadArguments) {
    const auto help = test::runProgram(test::program("kvrsim"), {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* word :
         {"--link", "--control", "--frame-log", "--fault", "--scenario", "touch X Y [N]",
          "drag X1 Y1 X2 Y2", "fault KIND", "hangup", "sync", "Uu", "SPaahhll"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;

    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{"--run", "jump"}, "unknown statement 'jump'"},
        {{"--fault", "meteor"}, "unknown fault 'meteor'"},
        {{"--profile", "nope"}, "unknown profile 'nope'"},
        {{"--link", "LPT1"}, "bad link name 'LPT1'"},
        {{"--set", "100=1"}, "bad --set 100=1"},
        {{"--set", "9E="}, "bad --set 9E="},
        {{"--set", "=1"}, "bad --set =1"},
        {{"--set", "9E=10000"}, "bad --set 9E=10000"},
        {{"--set", "zz=1"}, "bad --set zz=1"},
        {{"--ext-level", "10000"}, "bad --ext-level 10000"},
        {{"--format", "x"}, "bad --format x"},
        {{"--scenario", "/nonexistent.scn"}, "cannot read scenario"},
        {{"--scenario", "/"}, "it is a folder"},
        {{"--no-such-option"}, ""},
    };
    for (const auto& [args, message] : bad) {
        const auto r = test::runProgram(test::program("kvrsim"), args);
        EXPECT_EQ(r.exitCode, 2) << args[0];
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

TEST(KvrsimProgram, ServesAnExistingSerialLine) {
    // A pty pair stands in for a null-modem cable: kvrsim gets one end, the test the other.
    UniqueFd far(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(far && ::grantpt(far.get()) == 0 && ::unlockpt(far.get()) == 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(far.get(), name, sizeof name), 0);
    termios t{};
    ::tcgetattr(far.get(), &t);
    ::cfmakeraw(&t);
    ::tcsetattr(far.get(), TCSANOW, &t);

    const fs::path log = test::makeTempDir("serial") / "frames.log";
    test::ChildProcess proc(test::program("kvrsim"),
                            {"--serial", name, "--baud", "19200", "--frame-log", log.string()});
    ASSERT_TRUE(test::waitUntil([&] { return proc.stdoutText() == std::string(name) + "\n"; }))
        << proc.stderrText();
    const Bytes command = frameOf("UT");
    ASSERT_EQ(::write(far.get(), command.data(), command.size()),
              static_cast<ssize_t>(command.size()));
    Bytes got;
    ASSERT_TRUE(test::waitUntil([&] {
        uint8_t buf[64];
        pollfd p{far.get(), POLLIN, 0};
        if (::poll(&p, 1, 10) == 1) {
            const ssize_t n = ::read(far.get(), buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got.size() >= 10;
    }));
    EXPECT_EQ(got, frameOf("NVLT3000"));
    // The far end goes away: kvrsim notices, keeps running, and still stops cleanly.
    far.reset();
    ASSERT_TRUE(test::waitUntil(
        [&] { return proc.stderrText().find("the line is gone") != std::string::npos; }));
    EXPECT_TRUE(proc.running());
    ASSERT_TRUE(proc.signal(SIGTERM));
    const auto status = proc.wait();
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);

    const auto bad =
        test::runProgram(test::program("kvrsim"), {"--serial", name, "--link", "COM1"});
    EXPECT_NE(bad.err.find("a serial line gets no link"), std::string::npos) << bad.err;
    const auto baud =
        test::runProgram(test::program("kvrsim"), {"--serial", "/dev/null", "--baud", "300"});
    EXPECT_NE(baud.err.find("unsupported baud rate 300"), std::string::npos) << baud.err;
}

// ---- in-process ------------------------------------------------------------------------------

TEST(PtyEmulatorInProcess, ServesALineAndTakesStatements) {
    PtyOptions o;
    o.link = "COM9";
    std::string error;
    auto emu = PtyEmulator::start(std::move(o), &error);
    ASSERT_TRUE(emu) << error;
    EXPECT_EQ(emu->linkPath(), test::stateDir() / "dosdevices" / "com9");
    Port port(emu->slavePath());
    ASSERT_TRUE(port.ok());
    EXPECT_EQ(port.exchange("GP9F", 6), frameOf("32FA"));
    ASSERT_TRUE(emu->execute("touch 1000 2000", &error)) << error;
    EXPECT_FALSE(emu->execute("touch", &error));
    EXPECT_EQ(error, "missing coordinate");
    ASSERT_TRUE(emu->waitIdle(10s));
    EXPECT_EQ(port.read(5), (Bytes{0xD0, 0x68, 0x07, 0x50, 0x0F}));
    const auto frames = emu->frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, frameOf("GP9F"));
    EXPECT_EQ(emu->inspect([](const Controller& c) { return c.reportMode(); }), ReportMode::Stream);
    const fs::path link = emu->linkPath();
    emu.reset();
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

} // namespace
} // namespace kvr::emu
