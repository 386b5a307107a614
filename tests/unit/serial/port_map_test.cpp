// The COM-number rule on a made-up machine: links, UARTs and USB adapters under test roots.

#include "platform/serial/port_map.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace {

namespace fs = std::filesystem;
using kvr::serial::PortRoots;

// dev: ttyS0..ttyS4 (ttyS3 has no node), ttyUSB0, ttyUSB1, ttyACM0 and three by-id names;
// sys: UART types; dosdevices: com1 pins the FTDI adapter, com6 holds 6, com9 dangles.
PortRoots madeUpMachine() {
    const fs::path root = kvr::test::makeTempDir("ports");
    PortRoots r{root / "dosdevices", root / "dev", root / "sys"};
    fs::create_directories(r.dosDevices);
    fs::create_directories(r.dev / "serial" / "by-id");
    for (const char* node : {"ttyS0", "ttyS1", "ttyS2", "ttyS4", "ttyUSB0", "ttyUSB1", "ttyACM0"})
        std::ofstream(r.dev / node) << "";
    for (auto [name, type] :
         {std::pair{"ttyS0", 4}, {"ttyS1", 0}, {"ttyS2", 4}, {"ttyS3", 4}, {"ttyS4", 4}}) {
        fs::create_directories(r.sysClassTty / name);
        std::ofstream(r.sysClassTty / name / "type") << type << "\n";
    }
    const fs::path byId = r.dev / "serial" / "by-id";
    fs::create_symlink("../../ttyUSB1", byId / "usb-FTDI_FT232R_A1-if00-port0");
    fs::create_symlink("../../ttyUSB0", byId / "usb-Prolific_PL2303-if00-port0");
    fs::create_symlink("../../ttyACM0", byId / "usb-ZZ_Touch_CDC-if00");
    fs::create_symlink(r.dev / "ttyUSB1", r.dosDevices / "com1");
    fs::create_symlink(r.dev / "ttyS4", r.dosDevices / "com6");
    fs::create_symlink(r.dev / "gone", r.dosDevices / "com9");
    return r;
}

TEST(PortMap, OneRuleForTheMapAndTheResolution) {
    const PortRoots r = madeUpMachine();
    const fs::path byId = r.dev / "serial" / "by-id";

    std::map<unsigned, fs::path> listed;
    for (const auto& p : kvr::serial::mapPorts(r))
        listed[p.number] = p.device;
    const std::map<unsigned, fs::path> expected{
        {1, fs::canonical(r.dev / "ttyUSB1")}, // the link wins over ttyS0
        {3, r.dev / "ttyS2"},                  // COM2: no UART; COM4: no node
        {5, fs::canonical(r.dev / "ttyUSB0")}, // FTDI is COM1 already: Prolific is first
        {6, fs::canonical(r.dev / "ttyS4")},   // ttyS4 only through its link
        {7, fs::canonical(r.dev / "ttyACM0")}, // 6 is held by a link
    };
    EXPECT_EQ(listed, expected);

    const std::map<unsigned, fs::path> opened{
        {1, r.dosDevices / "com1"},
        {2, r.dev / "ttyS1"},
        {4, r.dev / "ttyS3"},
        {5, byId / "usb-Prolific_PL2303-if00-port0"},
        {7, byId / "usb-ZZ_Touch_CDC-if00"},
        {8, r.dosDevices / "com8"}, // nothing: the missing link names it
        {9, r.dosDevices / "com9"}, // a dangling link never falls back
    };
    for (const auto& [number, path] : opened)
        EXPECT_EQ(kvr::serial::comPortPath(number, r), path) << "COM" << number;
    // Whatever the map lists, the resolution opens that very tty.
    for (const auto& [number, device] : listed)
        EXPECT_EQ(fs::canonical(kvr::serial::comPortPath(number, r)), device) << "COM" << number;
}

TEST(PortMap, NoFoldersNoPorts) {
    const fs::path root = kvr::test::makeTempDir("empty");
    const PortRoots r{root / "dosdevices", root / "dev", root / "sys"};
    EXPECT_TRUE(kvr::serial::mapPorts(r).empty());
    EXPECT_EQ(kvr::serial::comPortPath(5, r), r.dosDevices / "com5");
}

} // namespace
