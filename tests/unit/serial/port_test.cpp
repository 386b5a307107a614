#include "platform/serial/port.h"
#include "tests/support/test_env.h"
#include "tests/unit/serial/pty.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using kvr::serial::IoStatus;
using kvr::serial::Port;
using kvr::test::Pty;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// A pty and the port opened on its slave side.
struct Line {
    Pty pty;
    std::unique_ptr<Port> port;
};

Line openLine(kvr::serial::OpenOptions options = {}) {
    Line l;
    l.pty = Pty::open();
    if (!l.pty.valid()) return l;
    kvr::serial::Error error;
    l.port = Port::open(l.pty.slavePath, options, &error);
    EXPECT_TRUE(l.port) << error.text;
    return l;
}

kvr::UniqueFd makeStop() {
    return kvr::UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void setStop(const kvr::UniqueFd& fd) {
    std::uint64_t one = 1;
    ASSERT_EQ(::write(fd.get(), &one, sizeof one), static_cast<ssize_t>(sizeof one));
}

int pendingInput(const Port& port) {
    int n = 0;
    return ::ioctl(port.fd(), FIONREAD, &n) == 0 ? n : -1;
}

// Reads from the port until `count` bytes came (or the generous deadline passed).
Bytes readAll(Port& port, std::size_t count) {
    Bytes got;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        std::uint8_t buf[300];
        auto r = port.read(buf, -1, 1000ms);
        if (r.status == IoStatus::Ok)
            got.insert(got.end(), buf, buf + r.count);
        else if (r.status != IoStatus::TimedOut)
            break;
    }
    return got;
}

Bytes everyByteValue() {
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    return all;
}

TEST(SerialPort, OpensByDosNameThroughTheDosdevicesLink) {
    Pty pty = Pty::open();
    ASSERT_TRUE(pty.valid());
    const fs::path dir = kvr::test::stateDir() / "dosdevices";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::create_symlink(pty.slavePath, dir / "com5");

    for (const char* name : {"COM5", R"(\\.\com5)", R"(\DosDevices\COM5)"}) {
        kvr::serial::Error error;
        auto port = Port::openDosName(name, {}, &error);
        ASSERT_TRUE(port) << name << ": " << error.text;
        EXPECT_EQ(port->path(), dir / "com5");
        Bytes frame{0x01, 'U', 'T', 0x0D};
        auto w = port->write(frame);
        EXPECT_EQ(w.status, IoStatus::Ok);
        EXPECT_EQ(pty.receive(frame.size()), frame) << name;
    }
}

TEST(SerialPort, MovesEveryByteValueUnchangedBothWays) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    // Raw mode: CR, LF, XON/XOFF, ^C, DEL and 0xFF pass as they are, in both directions.
    const Bytes all = everyByteValue();
    auto w = l.port->write(all);
    EXPECT_EQ(w.status, IoStatus::Ok);
    EXPECT_EQ(w.count, all.size());
    EXPECT_EQ(l.pty.receive(all.size()), all);

    ASSERT_TRUE(l.pty.send(all));
    EXPECT_EQ(readAll(*l.port, all.size()), all);
}

TEST(SerialPort, AppliesRawEightNOneAtTheBaudRate) {
    Line l = openLine({.baudRate = 9600});
    ASSERT_TRUE(l.port);
    termios t{};
    ASSERT_EQ(::tcgetattr(l.port->fd(), &t), 0);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));

    EXPECT_TRUE(l.port->setBaudRate(19200));
    ASSERT_EQ(::tcgetattr(l.port->fd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B19200));

    kvr::serial::Error error;
    EXPECT_FALSE(l.port->setBaudRate(12345, &error));
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_FALSE(
        l.port->setLineControl({kvr::serial::StopBits::One, kvr::serial::Parity::None, 9}, &error));
    EXPECT_EQ(error.code, EINVAL);
}

// ptys keep only part of the line control (always 8 bits, no parity), so the mapping of the
// serial driver's line control record is checked on termios records.
struct LineCase {
    kvr::serial::LineControl line;
    tcflag_t flags; // CSIZE | PARENB | PARODD | CMSPAR | CSTOPB bits expected
};

class LineControlTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineControlTest, MapsToCflagBits) {
    termios t{};
    t.c_cflag = CS5 | PARENB | PARODD | CMSPAR | CSTOPB | CREAD; // all changed but CREAD
    ASSERT_TRUE(kvr::serial::applyLineControl(t, GetParam().line));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), GetParam().flags);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
}

using kvr::serial::Parity;
using kvr::serial::StopBits;
INSTANTIATE_TEST_SUITE_P(
    Records, LineControlTest,
    ::testing::Values(LineCase{{StopBits::One, Parity::None, 8}, CS8},
                      LineCase{{StopBits::Two, Parity::Even, 7}, CS7 | PARENB | CSTOPB},
                      LineCase{{StopBits::One, Parity::Odd, 8}, CS8 | PARENB | PARODD},
                      LineCase{{StopBits::One, Parity::Mark, 8}, CS8 | PARENB | CMSPAR | PARODD},
                      LineCase{{StopBits::One, Parity::Space, 6}, CS6 | PARENB | CMSPAR},
                      LineCase{{StopBits::OnePointFive, Parity::None, 5}, CS5 | CSTOPB}));

TEST(LineControl, RefusesWhatTermiosCannotDoAndLeavesTheRecord) {
    termios t{};
    t.c_cflag = CS8;
    kvr::serial::Error error;
    EXPECT_FALSE(kvr::serial::applyLineControl(t, {StopBits::One, Parity::None, 9}, &error));
    EXPECT_EQ(error.code, EINVAL);
    EXPECT_FALSE(kvr::serial::applyLineControl(t, {StopBits::One, static_cast<Parity>(5), 8}));
    EXPECT_FALSE(kvr::serial::applyLineControl(t, {static_cast<StopBits>(3), Parity::None, 8}));
    EXPECT_EQ(t.c_cflag, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(kvr::serial::applyBaudRate(t, 9601, &error));
    EXPECT_TRUE(kvr::serial::applyBaudRate(t, 115200));
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B115200));
}

TEST(SerialPort, ABlockedReadReturnsAsSoonAsBytesArrive) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buf[64];
        auto r = l.port->read(buf); // no timeout, no stop: only bytes can end it
        return std::make_pair(r, Bytes(buf, buf + r.count));
    });
    const Bytes reply{0x01, '0', 0x0D};
    ASSERT_TRUE(l.pty.send(reply));
    ASSERT_EQ(reader.wait_for(20s), std::future_status::ready);
    auto [r, got] = reader.get();
    EXPECT_EQ(r.status, IoStatus::Ok);
    ASSERT_GE(got.size(), 1u);
    Bytes rest = readAll(*l.port, reply.size() - got.size());
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, reply);
}

TEST(SerialPort, AStopEndsABlockedReadFromAnotherThread) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    kvr::UniqueFd stop = makeStop();
    ASSERT_TRUE(stop);
    std::atomic<bool> entered{false};
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buf[64];
        entered = true;
        return l.port->read(buf, stop.get());
    });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return entered.load(); }));
    // The reader is (or is about to be) blocked in poll; the stop must end it either way.
    setStop(stop);
    ASSERT_EQ(reader.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(reader.get().status, IoStatus::Stopped);
}

TEST(SerialPort, AStopLeavesPendingBytesForTheNextReader) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    kvr::UniqueFd stop = makeStop();
    const Bytes packet{0xC0, 0x10, 0x20, 0x30, 0x40};
    ASSERT_TRUE(l.pty.send(packet));
    ASSERT_TRUE(kvr::test::waitUntil([&] { return pendingInput(*l.port) == 5; }));
    setStop(stop);
    std::uint8_t buf[16];
    EXPECT_EQ(l.port->read(buf, stop.get()).status, IoStatus::Stopped);
    EXPECT_EQ(readAll(*l.port, packet.size()), packet);
}

TEST(SerialPort, AnIdleReadWithATimeoutEndsEmpty) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    std::uint8_t buf[16];
    auto r = l.port->read(buf, -1, 20ms);
    EXPECT_EQ(r.status, IoStatus::TimedOut);
    EXPECT_EQ(r.count, 0u);
    r = l.port->read(buf, -1, 0ms);
    EXPECT_EQ(r.status, IoStatus::TimedOut);
}

TEST(SerialPort, HangUpIsReportedAsDisconnected) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    kvr::UniqueFd stop = makeStop();
    std::atomic<bool> entered{false};
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buf[64];
        entered = true;
        return l.port->read(buf, stop.get());
    });
    ASSERT_TRUE(kvr::test::waitUntil([&] { return entered.load(); }));
    l.pty.master.reset(); // the controller's end goes away
    ASSERT_EQ(reader.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(reader.get().status, IoStatus::Disconnected);

    // It stays that way, for reads and for writes.
    std::uint8_t buf[8];
    EXPECT_EQ(l.port->read(buf, stop.get(), 1000ms).status, IoStatus::Disconnected);
    const Bytes frame{0x01, 'M', 'I', 0x0D};
    EXPECT_EQ(l.port->write(frame).status, IoStatus::Disconnected);
}

TEST(SerialPort, DiscardThrowsAwayWhatWasReceived) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    ASSERT_TRUE(l.pty.send({0x01, 'i', 'T', 0x0D, 0xC0, 0x00}));
    ASSERT_TRUE(kvr::test::waitUntil([&] { return pendingInput(*l.port) == 6; }));
    EXPECT_TRUE(l.port->discard(kvr::serial::Queue::Input));
    EXPECT_EQ(pendingInput(*l.port), 0);
    std::uint8_t buf[16];
    EXPECT_EQ(l.port->read(buf, -1, 0ms).status, IoStatus::TimedOut);

    // What comes afterwards is read as usual.
    const Bytes reply{0x01, '0', 0x0D};
    ASSERT_TRUE(l.pty.send(reply));
    EXPECT_EQ(readAll(*l.port, reply.size()), reply);
    EXPECT_TRUE(l.port->discard(kvr::serial::Queue::Both));
}

TEST(SerialPort, WritersNeverInterleaveWithinAFrame) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    constexpr int kFrames = 300;
    constexpr std::size_t kFrameSize = 10;
    auto writer = [&](std::uint8_t fill) {
        Bytes frame(kFrameSize, fill);
        frame.front() = 0x01;
        frame.back() = 0x0D;
        for (int i = 0; i < kFrames; ++i) {
            if (l.port->write(frame).status != IoStatus::Ok) return false;
        }
        return true;
    };
    auto a = std::async(std::launch::async, writer, std::uint8_t{'A'});
    auto b = std::async(std::launch::async, writer, std::uint8_t{'B'});
    Bytes got = l.pty.receive(2 * kFrames * kFrameSize);
    EXPECT_TRUE(a.get());
    EXPECT_TRUE(b.get());
    ASSERT_EQ(got.size(), 2 * kFrames * kFrameSize);
    std::map<std::uint8_t, int> frames;
    for (std::size_t at = 0; at < got.size(); at += kFrameSize) {
        ASSERT_EQ(got[at], 0x01) << "frame at " << at;
        ASSERT_EQ(got[at + kFrameSize - 1], 0x0D) << "frame at " << at;
        for (std::size_t i = 1; i + 1 < kFrameSize; ++i) {
            ASSERT_EQ(got[at + i], got[at + 1]) << "frame at " << at << " mixed";
        }
        ++frames[got[at + 1]];
    }
    EXPECT_EQ(frames['A'], kFrames);
    EXPECT_EQ(frames['B'], kFrames);
}

TEST(SerialPort, AWriteToALineThatNeverDrainsEnds) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    // Nobody reads the master side: the tty's queues fill up and the write must give up.
    const Bytes lots(1 << 20, 'x');
    l.port->setTimeouts({kvr::serial::kMaxDword, 0, 0, 0, 100});
    auto r = l.port->write(lots);
    EXPECT_EQ(r.status, IoStatus::TimedOut);
    EXPECT_LT(r.count, lots.size());

    // A stop ends a blocked write as well, and a later writer still gets the lock.
    l.port->setTimeouts({kvr::serial::kMaxDword, 0, 0, 0, 0});
    kvr::UniqueFd stop = makeStop();
    setStop(stop);
    r = l.port->write(lots, stop.get());
    EXPECT_EQ(r.status, IoStatus::Stopped);
    EXPECT_TRUE(l.port->discard(kvr::serial::Queue::Output));
}

TEST(SerialPort, ReadsFollowTheTimeoutsRecord) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    std::uint8_t buf[10];

    // After open: a read returns at once with what is there, even nothing.
    auto r = l.port->readPerTimeouts(buf);
    EXPECT_EQ(r.status, IoStatus::Ok);
    EXPECT_EQ(r.count, 0u);

    // The driver's record: any byte ends the read, else it ends empty after the constant.
    l.port->setTimeouts({kvr::serial::kMaxDword, kvr::serial::kMaxDword, 30, 0, 0});
    r = l.port->readPerTimeouts(buf);
    EXPECT_EQ(r.status, IoStatus::TimedOut);
    EXPECT_EQ(r.count, 0u);
    ASSERT_TRUE(l.pty.send({0x01, '0', 0x0D}));
    Bytes got;
    ASSERT_TRUE(kvr::test::waitUntil([&] {
        auto x = l.port->readPerTimeouts(buf);
        if (x.status == IoStatus::Ok) got.insert(got.end(), buf, buf + x.count);
        return got.size() >= 3;
    }));
    EXPECT_EQ(got, (Bytes{0x01, '0', 0x0D}));

    // A total time only: fill the buffer, or hand over what came when the time is up.
    l.port->setTimeouts({0, 0, 50, 0, 0});
    ASSERT_TRUE(l.pty.send({'1', '2', '3', '4'}));
    r = l.port->readPerTimeouts(buf);
    EXPECT_EQ(r.status, IoStatus::TimedOut);
    EXPECT_EQ(r.count, 4u);
    l.port->setTimeouts({0, 0, 20000, 0, 0});
    ASSERT_TRUE(l.pty.send(Bytes(10, 'x')));
    r = l.port->readPerTimeouts(buf);
    EXPECT_EQ(r.status, IoStatus::Ok);
    EXPECT_EQ(r.count, 10u);
}

TEST(SerialPort, OpenFailuresAreClearErrors) {
    kvr::serial::Error error;
    EXPECT_FALSE(Port::open(kvr::test::stateDir() / "no-such-tty", {}, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.text.find("no-such-tty"), std::string::npos) << error.text;
    EXPECT_NE(error.text.find("No such file"), std::string::npos) << error.text;

    EXPECT_FALSE(Port::open("/dev/null", {}, &error));
    EXPECT_EQ(error.code, ENOTTY);
    EXPECT_NE(error.text.find("not a serial port"), std::string::npos) << error.text;

    EXPECT_FALSE(Port::openDosName("LPT1", {}, &error));
    EXPECT_EQ(error.code, EINVAL);

    Pty pty = Pty::open();
    ASSERT_TRUE(pty.valid());
    EXPECT_FALSE(Port::open(pty.slavePath, {.baudRate = 12345}, &error));
    EXPECT_EQ(error.code, EINVAL);
}

TEST(SerialPort, OneOpenerAtATime) {
    Line l = openLine();
    ASSERT_TRUE(l.port);
    kvr::serial::Error error;
    EXPECT_FALSE(Port::open(l.pty.slavePath, {}, &error));
    EXPECT_EQ(error.code, EWOULDBLOCK);
    EXPECT_NE(error.text.find("in use"), std::string::npos) << error.text;
    l.port.reset();
    EXPECT_TRUE(Port::open(l.pty.slavePath, {}, &error)) << error.text;
}

TEST(SerialPort, LatencyTimerOfAnAdapterIsLoweredWhenWritable) {
    Line l = openLine({.lowLatency = false});
    ASSERT_TRUE(l.port);
    // A stand-in for /sys/class/tty with an FTDI-like entry for this tty.
    const fs::path sys = kvr::test::makeTempDir("sys");
    const fs::path name = fs::canonical(l.pty.slavePath).filename();
    fs::create_directories(sys / name / "device");
    const fs::path timer = sys / name / "device" / "latency_timer";
    std::ofstream(timer) << "16\n";

    auto result = kvr::serial::lowerReceiveLatency(l.port->fd(), l.pty.slavePath, sys);
    EXPECT_TRUE(result.latencyTimer);
    std::string value;
    std::ifstream(timer) >> value;
    EXPECT_EQ(value, "1");

    // Nothing to lower: silently nothing done.
    result = kvr::serial::lowerReceiveLatency(l.port->fd(), l.pty.slavePath,
                                              kvr::test::makeTempDir("empty"));
    EXPECT_FALSE(result.latencyTimer);
}

} // namespace
