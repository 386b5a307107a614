// Registry parameters: the key created at the first connect, each load and repair rule, the
// degenerate calibration fallback, the connect markers, both roles.

#include "control_test_support.h"
#include "engine/calibration.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <string>

namespace kvr::driver::test {
namespace {

using namespace ntstatus;

class RegistryParamsTest : public ::testing::Test {
protected:
    std::uint32_t value(std::uint8_t n, std::string_view name) {
        std::uint32_t v = 0xDEADBEEF;
        EXPECT_EQ(reg::queryDword(ctx.deviceKeyPath(n), name, v), reg::Status::Ok) << name;
        return v;
    }
    void store(std::uint8_t n, std::string_view name, std::uint32_t v) {
        ASSERT_EQ(reg::setDword(ctx.deviceKeyPath(n), name, v), reg::Status::Ok);
    }
    engine::Rs232Device& dev(std::uint8_t n) { return ctx.device(n); }

    DriverContext ctx;
};

TEST_F(RegistryParamsTest, FirstConnectCreatesTheDeviceKeyWithTheTwentyDefaultsAndTheMarker) {
    ctx.setComSettings(2, 4, 9600);
    RegistryAtConnect(ctx, 2);

    EXPECT_EQ(ctx.deviceKeyPath(2),
              "\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device2");
    std::vector<reg::Value> values;
    ASSERT_EQ(reg::enumValues(ctx.deviceKeyPath(2), values), reg::Status::Ok);
    const std::vector<std::pair<std::string, std::uint32_t>> expected{
        {"Rotation", 0},   {"DisableReport", 0}, {"BPX", 3968},     {"BPY", 128},
        {"CP1X", 128},     {"CP1Y", 128},        {"CP2X", 3968},    {"CP2Y", 3968},
        {"CP3X", 3968},    {"CP3Y", 128},        {"COMPORT", 4},    {"BAUDRATE", 9600},
        {"ReportMode", 2}, {"DownSound", 1},     {"UpSound", 0},    {"RightStatus", 0},
        {"ExpandUp", 0},   {"ExpandDown", 4095}, {"ExpandLeft", 0}, {"ExpandRight", 4095},
    };
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(values[i].name, expected[i].first) << i; // table order
        EXPECT_EQ(values[i].type, reg::Type::Dword);
        EXPECT_EQ(values[i].dword, expected[i].second) << expected[i].first;
    }
    std::uint32_t marker = 0;
    EXPECT_EQ(
        reg::queryDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr", "RS232_DEVICE2", marker),
        reg::Status::Ok);
    EXPECT_EQ(marker, 1u);
    // memory carries the defaults
    EXPECT_EQ(dev(2).DownSound, 1);
    EXPECT_EQ(dev(2).ReportMode, 2);
    EXPECT_EQ(dev(2).ExpandDown, 4095);
    // no other device key appeared
    EXPECT_EQ(reg::keyExists(ctx.deviceKeyPath(1)), reg::Status::NotFound);
}

TEST_F(RegistryParamsTest, ExistingKeyIsLoadedNotRecreated) {
    ManageRegistry(ctx, 0);
    store(0, "Rotation", 3);
    ASSERT_EQ(reg::deleteValue(ctx.deviceKeyPath(0), "ExpandUp"), reg::Status::Ok);
    ManageRegistry(ctx, 0);
    EXPECT_EQ(dev(0).Rotation, 3);
    EXPECT_EQ(value(0, "Rotation"), 3u);
    EXPECT_EQ(value(0, "ExpandUp"), 0u); // absent: repaired, not recreated with the rest
}

TEST_F(RegistryParamsTest, ContainerWithoutDeviceKeyGetsTheDeviceKey) {
    ASSERT_EQ(reg::createKey(ctx.typeKeyPath()), reg::Status::Ok);
    ManageRegistry(ctx, 5);
    EXPECT_EQ(value(5, "CP2X"), 3968u);
}

struct LoadCase {
    std::string_view name;
    std::uint32_t stored;
    std::uint32_t memory;   // what the record holds after the load
    std::uint32_t registry; // what the value reads after the load
};

std::uint32_t memoryOf(const engine::Rs232Device& d, std::string_view name) {
    if (name == "Rotation") return d.Rotation;
    if (name == "DisableReport") return d.DisableReport;
    if (name == "ReportMode") return d.ReportMode;
    if (name == "DownSound") return d.DownSound;
    if (name == "UpSound") return d.UpSound;
    if (name == "RightStatus") return d.RightStatus;
    if (name == "BPX") return static_cast<std::uint32_t>(d.BPX);
    if (name == "BPY") return static_cast<std::uint32_t>(d.BPY);
    if (name == "CP1X") return static_cast<std::uint32_t>(d.CP1X);
    if (name == "CP1Y") return static_cast<std::uint32_t>(d.CP1Y);
    if (name == "CP2X") return static_cast<std::uint32_t>(d.CP2X);
    if (name == "CP2Y") return static_cast<std::uint32_t>(d.CP2Y);
    if (name == "CP3X") return static_cast<std::uint32_t>(d.CP3X);
    if (name == "CP3Y") return static_cast<std::uint32_t>(d.CP3Y);
    if (name == "ExpandUp") return d.ExpandUp;
    if (name == "ExpandDown") return d.ExpandDown;
    if (name == "ExpandLeft") return d.ExpandLeft;
    if (name == "ExpandRight") return d.ExpandRight;
    ADD_FAILURE() << name;
    return 0;
}

TEST_F(RegistryParamsTest, EachLoadRule) {
    const LoadCase cases[] = {
        {"Rotation", 3, 3, 3},
        {"Rotation", 7, 0, 0},
        {"DisableReport", 0, 0, 0},
        {"DisableReport", 1, 0, 1}, // off for one connection only
        {"DisableReport", 2, 1, 2},
        {"DisableReport", 3, 0, 0},
        {"ReportMode", 1, 1, 1},
        {"ReportMode", 3, 3, 3},
        {"ReportMode", 0, 2, 2},
        {"ReportMode", 4, 2, 2},
        {"DownSound", 0, 0, 0},
        {"DownSound", 2, 1, 1},
        {"UpSound", 1, 1, 1},
        {"UpSound", 9, 0, 0},
        {"RightStatus", 1, 1, 1},
        {"RightStatus", 5, 1, 1}, // not the default 0
        {"BPX", 4095, 4095, 4095},
        {"BPX", 0, 3968, 3968},
        {"BPX", 4096, 3968, 3968},
        {"BPY", 1, 1, 1},
        {"BPY", 0xFFFFFFFF, 128, 128},
        {"CP1X", 0, 128, 128},
        {"CP1Y", 5000, 128, 128},
        {"CP2X", 0, 3968, 3968},
        {"CP2Y", 4096, 3968, 3968},
        {"CP3X", 0, 3968, 3968},
        {"CP3Y", 0, 128, 128},
        {"CP3Y", 300, 300, 300},
        {"ExpandUp", 0, 0, 0},
        {"ExpandUp", 100, 100, 100},
        {"ExpandUp", 4096, 0, 0},
        {"ExpandDown", 0, 4095, 4095},
        {"ExpandDown", 4000, 4000, 4000},
        {"ExpandLeft", 70000, 0, 0},
        {"ExpandRight", 0, 4095, 4095},
        {"ExpandRight", 1, 1, 1},
    };
    ManageRegistry(ctx, 1);
    for (const LoadCase& c : cases) {
        // every value back to its default, then the one under test
        for (const auto& [n, v] : std::initializer_list<std::pair<std::string_view, std::uint32_t>>{
                 {"Rotation", 0},
                 {"DisableReport", 0},
                 {"ReportMode", 2},
                 {"DownSound", 1},
                 {"UpSound", 0},
                 {"RightStatus", 0},
                 {"BPX", 3968},
                 {"BPY", 128},
                 {"CP1X", 128},
                 {"CP1Y", 128},
                 {"CP2X", 3968},
                 {"CP2Y", 3968},
                 {"CP3X", 3968},
                 {"CP3Y", 128},
                 {"ExpandUp", 0},
                 {"ExpandDown", 4095},
                 {"ExpandLeft", 0},
                 {"ExpandRight", 4095}}) {
            store(1, n, v);
        }
        store(1, c.name, c.stored);
        ManageRegistry(ctx, 1);
        EXPECT_EQ(memoryOf(dev(1), c.name), c.memory) << c.name << "=" << c.stored;
        EXPECT_EQ(value(1, c.name), c.registry) << c.name << "=" << c.stored;
    }
}

TEST_F(RegistryParamsTest, AbsentValuesCountAsOutOfRange) {
    ManageRegistry(ctx, 0);
    for (std::string_view name : {"DownSound", "RightStatus", "CP2X", "ReportMode"}) {
        ASSERT_EQ(reg::deleteValue(ctx.deviceKeyPath(0), name), reg::Status::Ok);
    }
    ManageRegistry(ctx, 0);
    EXPECT_EQ(dev(0).DownSound, 1);
    EXPECT_EQ(value(0, "DownSound"), 1u);
    EXPECT_EQ(dev(0).RightStatus, 1); // the rule's repair value
    EXPECT_EQ(value(0, "RightStatus"), 1u);
    EXPECT_EQ(value(0, "CP2X"), 3968u);
    EXPECT_EQ(value(0, "ReportMode"), 2u);
    // a value of the wrong type is repaired the same way
    ASSERT_EQ(reg::setSz(ctx.deviceKeyPath(0), "Rotation", "2"), reg::Status::Ok);
    ManageRegistry(ctx, 0);
    EXPECT_EQ(value(0, "Rotation"), 0u);
}

TEST_F(RegistryParamsTest, BaudRateIsAlwaysRewritten9600) {
    ManageRegistry(ctx, 3);
    store(3, "BAUDRATE", 19200);
    ctx.setComSettings(3, 2, 38400); // given by code 11 for the connect that follows
    ManageRegistry(ctx, 3);
    EXPECT_EQ(value(3, "BAUDRATE"), 9600u);
    EXPECT_EQ(ctx.baudRate(3), 9600u);
    EXPECT_EQ(ctx.comPort(3), 2);
}

TEST_F(RegistryParamsTest, UnreadableKeyReadsZeroThroughTheRules) {
    {
        std::lock_guard g(dev(4).Lock);
        dev(4).Rotation = 3;
        dev(4).DownSound = 1;
        dev(4).ReportMode = 1;
    }
    GetRegistryKeys(ctx, "\\REGISTRY\\Machine\\SYSTEM\\NoSuchKey\\Device4", 4);
    EXPECT_EQ(dev(4).Rotation, 0);
    EXPECT_EQ(dev(4).DownSound, 0); // 0 is in range: not the default 1
    EXPECT_EQ(dev(4).ReportMode, 2);
    EXPECT_EQ(dev(4).BPX, 3968);
    EXPECT_EQ(dev(4).ExpandDown, 4095);
    EXPECT_EQ(dev(4).ExpandUp, 0);
    EXPECT_EQ(reg::keyExists("\\REGISTRY\\Machine\\SYSTEM\\NoSuchKey\\Device4"),
              reg::Status::NotFound);
}

TEST_F(RegistryParamsTest, DegenerateCalibrationFallsBackInMemoryOnly) {
    ManageRegistry(ctx, 2);
    // all three targets on one vertical line: CP1X = CP2X = CP3X
    store(2, "CP1X", 2000);
    store(2, "CP2X", 2000);
    store(2, "CP3X", 2000);
    store(2, "CP1Y", 300);
    store(2, "BPX", 3000);
    ManageRegistry(ctx, 2);
    const engine::CalibrationSet defaults;
    EXPECT_EQ(dev(2).CP1X, defaults.CP1X);
    EXPECT_EQ(dev(2).CP2X, defaults.CP2X);
    EXPECT_EQ(dev(2).CP3X, defaults.CP3X);
    EXPECT_EQ(dev(2).CP1Y, defaults.CP1Y);
    EXPECT_EQ(dev(2).BPX, defaults.BPX); // the base point falls back with the targets
    EXPECT_EQ(value(2, "CP1X"), 2000u);  // the registry keeps the stored values
    EXPECT_EQ(value(2, "CP1Y"), 300u);
    EXPECT_EQ(value(2, "BPX"), 3000u);
}

TEST_F(RegistryParamsTest, CalibrationDegenerateOnlyAtMappingResolutionAlsoFallsBack) {
    ManageRegistry(ctx, 2);
    // targets 1 to 2 raw units apart: determinant 2 on the full values, 0 once quartered
    store(2, "CP1X", 1001);
    store(2, "CP1Y", 1000);
    store(2, "CP2X", 1000);
    store(2, "CP2Y", 1002);
    store(2, "CP3X", 1000);
    store(2, "CP3Y", 1000);
    ManageRegistry(ctx, 2);
    EXPECT_EQ(dev(2).CP1X, engine::kDefaultCP1X);
    EXPECT_EQ(dev(2).CP2Y, engine::kDefaultCP2Y);
    EXPECT_TRUE(engine::CalibrationUsable(engine::CalibrationOf(dev(2))));
}

TEST_F(RegistryParamsTest, UsableCalibrationIsKept) {
    ManageRegistry(ctx, 6);
    store(6, "CP1X", 200);
    store(6, "CP2Y", 3900);
    ManageRegistry(ctx, 6);
    EXPECT_EQ(dev(6).CP1X, 200);
    EXPECT_EQ(dev(6).CP2Y, 3900);
}

TEST_F(RegistryParamsTest, GetRegistryDwordStatuses) {
    ManageRegistry(ctx, 0);
    std::uint32_t v = 7;
    EXPECT_EQ(KvrRs232_GetRegistryDword(ctx.deviceKeyPath(0), "BPX", v), kSuccess);
    EXPECT_EQ(v, 3968u);
    EXPECT_EQ(KvrRs232_GetRegistryDword(ctx.deviceKeyPath(0), "Missing", v), kObjectNameNotFound);
    EXPECT_EQ(v, 0u);
    v = 7;
    EXPECT_EQ(KvrRs232_GetRegistryDword(ctx.deviceKeyPath(7), "BPX", v), kUnsuccessful);
    EXPECT_EQ(v, 0u);
    // CreateRegistryKey creates no key
    EXPECT_NE(CreateRegistryKey(ctx.deviceKeyPath(7), "BPX", 1), kSuccess);
    EXPECT_EQ(reg::keyExists(ctx.deviceKeyPath(7)), reg::Status::NotFound);
    EXPECT_EQ(UpdateRegistryValue(ctx, "BPX", 1, 8), kInvalidParameter);
}

TEST(RegistryParamsUsb, UsbRoleKeysMarkersAndDoubleClick) {
    DriverContext usb(kUsbRole);
    usb.setComSettings(1, 1, 9600);
    RegistryAtConnect(usb, 1);
    const std::string key =
        "\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\USB\\Device1";
    EXPECT_EQ(usb.deviceKeyPath(1), key);
    std::vector<reg::Value> values;
    ASSERT_EQ(reg::enumValues(key, values), reg::Status::Ok);
    ASSERT_EQ(values.size(), 21u);
    EXPECT_EQ(values.back().name, "DoubleClick");
    std::uint32_t marker = 0;
    EXPECT_EQ(reg::queryDword(usb.productKeyPath(), "USB_DEVICE1", marker), reg::Status::Ok);
    EXPECT_EQ(marker, 1u);
    EXPECT_EQ(reg::queryDword(usb.productKeyPath(), "RS232_DEVICE1", marker),
              reg::Status::NotFound);

    ASSERT_EQ(reg::setDword(key, "DoubleClick", 1), reg::Status::Ok);
    ManageRegistry(usb, 1);
    EXPECT_EQ(usb.doubleClick(1), 1);
    ASSERT_EQ(reg::setDword(key, "DoubleClick", 4), reg::Status::Ok);
    ManageRegistry(usb, 1);
    EXPECT_EQ(usb.doubleClick(1), 0);
    std::uint32_t v = 9;
    EXPECT_EQ(reg::queryDword(key, "DoubleClick", v), reg::Status::Ok);
    EXPECT_EQ(v, 0u);
    // unit 4 does not exist in this role
    RegistryAtConnect(usb, 4);
    EXPECT_EQ(reg::keyExists(usb.deviceKeyPath(4)), reg::Status::NotFound);
}

} // namespace
} // namespace kvr::driver::test
