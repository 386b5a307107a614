// Pointer sinks: the pixel rule, uinput event records, trace lines, sink selection.

#include "platform/pointer/pointer.h"
#include "tests/support/test_env.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kvr::pointer {
namespace {

TEST(PointerToPixel, PrimaryDisplaySpanAndBeyond) {
    struct Case {
        int32_t pointer, originPx, sizePx, expectedPx;
    } cases[] = {
        {0, 0, 1024, 0},
        {65535, 0, 1024, 1023}, // the far edge is the last pixel, not one past it
        {32768, 0, 1024, 512},
        {64, 0, 1024, 1},
        {63, 0, 1024, 0},
        {65536, 0, 1024, 1024}, // the next display starts where the primary ends
        {131071, 0, 1024, 2047},
        {-1, 0, 1024, -1}, // floor, not truncation: left of the primary is negative
        {-64, 0, 1024, -1},
        {-65, 0, 1024, -2},
        {-65536, 0, 1024, -1024},
        {0, 1920, 1280, 1920}, // a primary display not at the origin
        {65535, 1920, 1280, 3199},
        {65535, 0, 768, 767},
        {65535, 0, 1, 0},
        {INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, // saturates instead of wrapping
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pointer << " @" << c.originPx << "+" << c.sizePx);
        EXPECT_EQ(pointerToPixel(c.pointer, c.originPx, c.sizePx), c.expectedPx);
    }
}

struct Ev {
    uint16_t type, code;
    int32_t value;
    bool operator==(const Ev&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Ev& e) {
    return os << "{" << e.type << "," << e.code << "," << e.value << "}";
}

// Delivers one sample through the uinput writer into a pipe and decodes what came out.
std::vector<Ev> uinputEvents(int32_t x, int32_t y, uint16_t flags,
                             const PointerArea& desktop = {}) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {};
    UniqueFd readEnd(fds[0]);
    {
        auto sink = makeUinputWriter(UniqueFd(fds[1]));
        EXPECT_STREQ(sink->kind(), "uinput");
        sink->setDesktop(desktop);
        sink->deliver(x, y, flags);
    } // closes the write end
    std::vector<Ev> out;
    input_event ev{};
    while (::read(readEnd.get(), &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev))
        out.push_back({ev.type, ev.code, ev.value});
    return out;
}

TEST(UinputWriter, EventRecordsPerSample) {
    const Ev syn{EV_SYN, SYN_REPORT, 0};
    auto absX = [](int32_t v) { return Ev{EV_ABS, ABS_X, v}; };
    auto absY = [](int32_t v) { return Ev{EV_ABS, ABS_Y, v}; };
    const Ev leftDown{EV_KEY, BTN_LEFT, 1}, leftUp{EV_KEY, BTN_LEFT, 0};
    const Ev rightDown{EV_KEY, BTN_RIGHT, 1}, rightUp{EV_KEY, BTN_RIGHT, 0};
    struct Case {
        const char* what;
        int32_t x, y;
        uint16_t flags;
        std::vector<Ev> expected;
    } cases[] = {
        {"move", 100, 200, 0, {absX(100), absY(200), syn}},
        {"left down", 0, 65535, kLeftButtonDown, {absX(0), absY(65535), leftDown, syn}},
        {"left up", 5, 6, kLeftButtonUp, {absX(5), absY(6), leftUp, syn}},
        {"right down", 5, 6, kRightButtonDown, {absX(5), absY(6), rightDown, syn}},
        {"right up", 5, 6, kRightButtonUp, {absX(5), absY(6), rightUp, syn}},
        {"clamped", -5, 70000, 0, {absX(0), absY(65535), syn}},
        {"far off", INT32_MIN, INT32_MAX, 0, {absX(0), absY(65535), syn}},
        {"left click in one record",
         7,
         8,
         kLeftButtonDown | kLeftButtonUp,
         {absX(7), absY(8), leftDown, syn, leftUp, syn}},
        {"left up, right down",
         7,
         8,
         kLeftButtonUp | kRightButtonDown,
         {absX(7), absY(8), rightDown, leftUp, syn}},
        {"unknown flag bits ignored", 1, 2, 0xFFF0, {absX(1), absY(2), syn}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(uinputEvents(c.x, c.y, c.flags), c.expected);
    }
}

// The device's 0..65535 spans the desktop; pointer units are placed on it.
TEST(UinputWriter, DeviceSpansTheDesktop) {
    const PointerArea twoWide{0, 0, 131072, 65536}, leftAndBelow{-65536, 0, 65536, 131072};
    struct Case {
        PointerArea desktop;
        int32_t x, y, deviceX, deviceY;
    } cases[] = {{twoWide, 65536, 100, 32768, 100},
                 {twoWide, 131071, 65535, 65535, 65535},
                 {leftAndBelow, 0, 65536, 32768, 32768},
                 {leftAndBelow, -65536, 131072, 0, 65535},
                 {{}, 70000, -1, 65535, 0}}; // the primary display alone: as it comes
    for (const auto& c : cases) {
        const auto events = uinputEvents(c.x, c.y, 0, c.desktop);
        ASSERT_EQ(events.size(), 3u);
        EXPECT_EQ(std::pair(events[0].value, events[1].value), std::pair(c.deviceX, c.deviceY));
    }
}

TEST(UinputWriter, FailedWriteDropsTheSample) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::close(fds[0]);
    auto sink = makeUinputWriter(UniqueFd(fds[1]));
    // A uinput device never raises SIGPIPE; the pipe here would, so it is ignored.
    ::signal(SIGPIPE, SIG_IGN);
    sink->deliver(1, 2, kLeftButtonDown);
    sink->deliver(1, 2, kLeftButtonUp);
}

TEST(UinputSink, MissingDeviceIsAClearError) {
    std::string error;
    auto sink = openUinputSink(error, (test::stateDir() / "no-uinput").string());
    EXPECT_EQ(sink, nullptr);
    EXPECT_NE(error.find("no-uinput"), std::string::npos) << error;
    // A path that is not a uinput device fails in the set-up, not later.
    const auto plain = test::stateDir() / "plain";
    std::ofstream(plain) << "x";
    sink = openUinputSink(error, plain.string());
    EXPECT_EQ(sink, nullptr);
    EXPECT_NE(error.find("uinput"), std::string::npos) << error;
}

struct TraceLine {
    long long us;
    int x, y;
    unsigned flags;
};

std::vector<TraceLine> parseTrace(const std::string& text, bool& wellFormed) {
    std::vector<TraceLine> out;
    wellFormed = text.empty() || text.back() == '\n';
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        TraceLine t{};
        char extra = 0;
        if (std::sscanf(line.c_str(), "%lld %d %d %u%c", &t.us, &t.x, &t.y, &t.flags, &extra) != 4)
            wellFormed = false;
        out.push_back(t);
    }
    return out;
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

long long steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TEST(TraceSink, OneLinePerSampleWithSteadyClockTime) {
    const auto file = test::stateDir() / "trace-lines.txt";
    std::string error;
    const long long before = steadyMicros();
    auto sink = openSink("trace", file.string(), error);
    ASSERT_NE(sink, nullptr) << error;
    EXPECT_STREQ(sink->kind(), "trace");
    sink->deliver(0, 0, 0);
    sink->deliver(65535, 65535, kLeftButtonDown);
    sink->deliver(-3, 70000, kLeftButtonUp | kRightButtonDown);
    // Flushed per line: visible before the sink is closed.
    const std::string text = readFile(file);
    const long long after = steadyMicros();
    bool ok = false;
    const auto lines = parseTrace(text, ok);
    ASSERT_TRUE(ok) << text;
    ASSERT_EQ(lines.size(), 3u) << text;
    const std::pair<int, int> xy[] = {{0, 0}, {65535, 65535}, {-3, 70000}};
    const unsigned flags[] = {0, 1, 6};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(lines[i].x, xy[i].first);
        EXPECT_EQ(lines[i].y, xy[i].second);
        EXPECT_EQ(lines[i].flags, flags[i]);
        EXPECT_GE(lines[i].us, before);
        EXPECT_LE(lines[i].us, after);
        if (i > 0) {
            EXPECT_GE(lines[i].us, lines[i - 1].us);
        }
    }
}

TEST(TraceSink, AppendsToAnExistingFile) {
    const auto file = test::stateDir() / "trace-append.txt";
    std::ofstream(file) << "earlier line\n";
    std::string error;
    auto sink = openTraceSink(file.string(), error);
    ASSERT_NE(sink, nullptr) << error;
    sink->deliver(1, 2, 0);
    const std::string text = readFile(file);
    EXPECT_EQ(text.rfind("earlier line\n", 0), 0u);
    EXPECT_NE(text.find(" 1 2 0\n"), std::string::npos);
}

TEST(TraceSink, ConcurrentSamplesNeverInterleave) {
    constexpr int kThreads = 8, kPerThread = 500;
    const auto file = test::stateDir() / "trace-concurrent.txt";
    std::string error;
    auto sink = openTraceSink(file.string(), error);
    ASSERT_NE(sink, nullptr) << error;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i)
                sink->deliver(t, i, static_cast<uint16_t>(i & 0xF));
        });
    for (auto& th : threads)
        th.join();
    bool ok = false;
    const auto lines = parseTrace(readFile(file), ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread));
    std::vector<int> next(kThreads, 0);
    long long lastUs = 0;
    for (const auto& l : lines) {
        ASSERT_GE(l.x, 0);
        ASSERT_LT(l.x, kThreads);
        EXPECT_EQ(l.y, next[l.x]++); // each thread's samples in its order, none lost or doubled
        EXPECT_EQ(l.flags, static_cast<unsigned>(l.y & 0xF));
        EXPECT_GE(l.us, lastUs); // lines are in time order
        lastUs = l.us;
    }
}

// A listening Unix socket of the given type in the test's state folder.
UniqueFd listenUnix(const std::filesystem::path& path, int type) {
    UniqueFd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
    if (type != SOCK_DGRAM && ::listen(fd.get(), 4) != 0) return {};
    return fd;
}

TEST(TraceSink, WritesToUnixSockets) {
    for (int type : {SOCK_STREAM, SOCK_SEQPACKET, SOCK_DGRAM}) {
        SCOPED_TRACE(type);
        const auto path = test::stateDir() / ("trace" + std::to_string(type) + ".sock");
        UniqueFd server = listenUnix(path, type);
        ASSERT_TRUE(server.valid());
        std::string error;
        auto sink = openTraceSink(path.string(), error);
        ASSERT_NE(sink, nullptr) << error;
        UniqueFd conn = type == SOCK_DGRAM
                            ? UniqueFd(::dup(server.get()))
                            : UniqueFd(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
        ASSERT_TRUE(conn.valid());
        sink->deliver(10, 20, kRightButtonUp);
        sink->deliver(30, 40, 0);
        std::string got;
        ASSERT_TRUE(test::waitUntil([&] {
            char buf[256];
            const ssize_t n = ::recv(conn.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
            return std::count(got.begin(), got.end(), '\n') == 2;
        }));
        bool ok = false;
        const auto lines = parseTrace(got, ok);
        EXPECT_TRUE(ok) << got;
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0].x, 10);
        EXPECT_EQ(lines[0].flags, 8u);
        EXPECT_EQ(lines[1].y, 40);
    }
}

TEST(TraceSink, ReaderThatLeavesCostsSamplesNotTheProcess) {
    // Socket reader gone.
    const auto path = test::stateDir() / "gone.sock";
    UniqueFd server = listenUnix(path, SOCK_STREAM);
    ASSERT_TRUE(server.valid());
    std::string error;
    auto sink = openTraceSink(path.string(), error);
    ASSERT_NE(sink, nullptr) << error;
    UniqueFd conn(::accept4(server.get(), nullptr, nullptr, SOCK_CLOEXEC));
    conn.reset();
    server.reset();
    for (int i = 0; i < 10; ++i)
        sink->deliver(i, i, 0); // EPIPE, no SIGPIPE

    // FIFO reader gone (SIGPIPE is not ignored here, so a raised one would end the test).
    const auto fifo = test::stateDir() / "trace.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto noReader = openTraceSink(fifo.string(), error);
    EXPECT_EQ(noReader, nullptr); // no reader: fails at once instead of hanging
    EXPECT_NE(error.find("trace.fifo"), std::string::npos) << error;
    UniqueFd reader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reader.valid());
    auto fifoSink = openTraceSink(fifo.string(), error);
    ASSERT_NE(fifoSink, nullptr) << error;
    fifoSink->deliver(1, 1, 1);
    char buf[64];
    EXPECT_GT(::read(reader.get(), buf, sizeof buf), 0);
    reader.reset();
    fifoSink->deliver(2, 2, 2);
    fifoSink->deliver(3, 3, 3);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST(OpenSink, KindsAndBadArguments) {
    std::string error;
    auto none = openSink("none", "", error);
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none->kind(), "none");
    none->deliver(1, 2, 3);

    EXPECT_EQ(openSink("mouse", "", error), nullptr);
    EXPECT_NE(error.find("unknown pointer sink 'mouse'"), std::string::npos) << error;
    EXPECT_EQ(openSink("trace", "", error), nullptr);
    EXPECT_NE(error.find("needs a target"), std::string::npos) << error;
    EXPECT_EQ(openSink("trace", (test::stateDir() / "no" / "such" / "dir" / "t").string(), error),
              nullptr);
    EXPECT_NE(error.find("cannot open trace file"), std::string::npos) << error;
    EXPECT_EQ(openXTestSink(error, ":9876"), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(OpenSink, AutoFallsBackToNoneWithoutUinputOrDisplay) {
    if (::access("/dev/uinput", W_OK) == 0) GTEST_SKIP() << "this machine has /dev/uinput";
    ::unsetenv("DISPLAY");
    std::string error;
    auto sink = openSink("auto", "", error);
    ASSERT_NE(sink, nullptr) << error;
    EXPECT_STREQ(sink->kind(), "none");
}

} // namespace
} // namespace kvr::pointer
