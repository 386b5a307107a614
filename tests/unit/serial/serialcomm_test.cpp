#include "platform/registry/registry.h"
#include "platform/serial/serialcomm.h"
#include "tests/support/test_env.h"
#include "tests/unit/serial/pty.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace {

namespace fs = std::filesystem;

// An empty dosdevices folder (tests of one process share the state folder).
fs::path freshDosDevices() {
    const fs::path dir = kvr::test::stateDir() / "dosdevices";
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// A stand-in for /sys/class/tty: ttyS0 and ttyS2 have a UART, ttyS1 is an empty slot.
fs::path fakeSysClassTty() {
    fs::path sys = kvr::test::makeTempDir("sys");
    for (auto [name, type] : {std::pair{"ttyS0", 4}, {"ttyS1", 0}, {"ttyS2", 4}}) {
        fs::create_directories(sys / name);
        std::ofstream(sys / name / "type") << type << "\n";
    }
    fs::create_directories(sys / "tty0"); // not a serial port
    return sys;
}

// The folders the map is built from: this test's dosdevices, a /dev with a ttyS0 node only
// (so the machine's own ports and adapters stay out), and `sys`.
kvr::serial::PortRoots testRoots(const fs::path& sys) {
    const fs::path dev = kvr::test::makeTempDir("dev");
    std::ofstream(dev / "ttyS0") << "";
    return {kvr::test::stateDir() / "dosdevices", dev, sys};
}

TEST(SerialComm, RebuiltFromTheLinksAndTheUarts) {
    auto pty = kvr::test::Pty::open();
    ASSERT_TRUE(pty.valid());
    const fs::path dir = freshDosDevices();
    fs::create_symlink(pty.slavePath, dir / "com3"); // hides ttyS2
    fs::create_symlink(dir / "gone", dir / "com7");  // dangling: not present
    fs::create_symlink(pty.slavePath, dir / "usb0"); // not a COM port
    const auto roots = testRoots(fakeSysClassTty());

    std::map<std::string, std::string> expected;
    expected[(roots.dev / "ttyS0").string()] = "COM1";
    expected[fs::canonical(pty.slavePath).string()] = "COM3";

    auto ports = kvr::serial::mapPorts(roots);
    ASSERT_EQ(ports.size(), expected.size());
    EXPECT_EQ(ports.back().number, 3u);
    EXPECT_EQ(ports.back().device, fs::canonical(pty.slavePath));

    // A value left from an earlier machine state goes away.
    const std::string key(kvr::serial::kSerialCommKey);
    ASSERT_EQ(kvr::reg::createKey(key), kvr::reg::Status::Ok);
    ASSERT_EQ(kvr::reg::setSz(key, "/dev/ttyUSB9", "COM9"), kvr::reg::Status::Ok);

    std::size_t count = 99;
    ASSERT_EQ(kvr::serial::rebuildSerialCommMap(&count, roots), kvr::reg::Status::Ok);
    EXPECT_EQ(count, expected.size());
    std::vector<kvr::reg::Value> values;
    ASSERT_EQ(kvr::reg::enumValues(R"(HKLM\HARDWARE\DEVICEMAP\SERIALCOMM)", values),
              kvr::reg::Status::Ok);
    std::map<std::string, std::string> got;
    for (const auto& v : values) {
        EXPECT_EQ(v.type, kvr::reg::Type::Sz);
        got[v.name] = v.sz;
    }
    EXPECT_EQ(got, expected);
    // In port number order.
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back().sz, "COM3");
}

TEST(SerialComm, TwoLinksToOneTtyKeepBothPorts) {
    auto pty = kvr::test::Pty::open();
    ASSERT_TRUE(pty.valid());
    const fs::path dir = freshDosDevices();
    fs::create_symlink(pty.slavePath, dir / "com2");
    fs::create_symlink(pty.slavePath, dir / "com4");
    const auto roots = testRoots(kvr::test::makeTempDir("sys"));

    std::size_t count = 0;
    ASSERT_EQ(kvr::serial::rebuildSerialCommMap(&count, roots), kvr::reg::Status::Ok);
    EXPECT_EQ(count, 2u);
    std::vector<kvr::reg::Value> values;
    ASSERT_EQ(kvr::reg::enumValues(std::string(kvr::serial::kSerialCommKey), values),
              kvr::reg::Status::Ok);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].sz, "COM2");
    EXPECT_EQ(values[1].sz, "COM4");
    EXPECT_EQ(values[1].name, (dir / "com4").string());
}

} // namespace
