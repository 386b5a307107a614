#include "platform/serial/dos_names.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

struct NameCase {
    const char* name;
    int number; // -1: not a port name
};

class DosNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(DosNameTest, Parses) {
    auto n = kvr::serial::parseDosName(GetParam().name);
    if (GetParam().number < 0) {
        EXPECT_FALSE(n.has_value()) << GetParam().name;
    } else {
        ASSERT_TRUE(n.has_value()) << GetParam().name;
        EXPECT_EQ(*n, static_cast<unsigned>(GetParam().number)) << GetParam().name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, DosNameTest,
    ::testing::Values(NameCase{"COM1", 1}, NameCase{"com12", 12}, NameCase{"CoM3", 3},
                      NameCase{R"(\\.\COM3)", 3}, NameCase{R"(\\.\com256)", 256},
                      NameCase{R"(\DosDevices\COM4)", 4}, NameCase{R"(\dosdevices\com16)", 16},
                      NameCase{"COM0", -1}, NameCase{"COM257", -1}, NameCase{"COM1000", -1},
                      NameCase{"COM", -1}, NameCase{"COM01", -1}, NameCase{"COM1x", -1},
                      NameCase{"COM-1", -1}, NameCase{" COM1", -1}, NameCase{"LPT1", -1},
                      NameCase{R"(\\.\)", -1}, NameCase{R"(\??\COM3)", -1},
                      NameCase{R"(\\.\\DosDevices\COM3)", -1}, NameCase{"", -1}));

TEST(DosNames, UartUnlessALinkNamesThePort) {
    EXPECT_EQ(kvr::serial::comDevicePath(3), fs::path("/dev/ttyS2"));
    EXPECT_EQ(kvr::serial::uartPath(1), fs::path("/dev/ttyS0"));

    const fs::path dir = kvr::test::stateDir() / "dosdevices";
    EXPECT_EQ(kvr::serial::dosDevicesDir(), dir);
    fs::create_directories(dir);
    fs::create_symlink("/dev/null", dir / "com3");
    EXPECT_EQ(kvr::serial::comDevicePath(3), dir / "com3");
    EXPECT_EQ(kvr::serial::resolveDosName(R"(\\.\COM3)"), std::optional<fs::path>(dir / "com3"));

    // A link to a tty that is gone still names the port: no silent fall-back to the UART.
    fs::create_symlink(dir / "nothing-here", dir / "com4");
    EXPECT_EQ(kvr::serial::comDevicePath(4), dir / "com4");

    EXPECT_EQ(kvr::serial::usbLinkPath(2), dir / "usb2");
    EXPECT_FALSE(kvr::serial::resolveDosName("USB2").has_value());
}

} // namespace
