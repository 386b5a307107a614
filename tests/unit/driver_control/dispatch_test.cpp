// The control dispatch called directly: the four checks in order, each code's lengths,
// statuses, reply bytes, info counts and registry writes.

#include "control_test_support.h"
#include "engine/decode.h"
#include "platform/registry/registry.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace kvr::driver::test {
namespace {

using namespace ntstatus;

class DispatchTest : public ::testing::Test {
protected:
    DispatchTest() : link(ctx) { ctx.attachSerialLink(&link); }
    ~DispatchTest() override { ctx.attachSerialLink(nullptr); }

    std::uint32_t regDword(std::uint8_t device, std::string_view name) {
        std::uint32_t v = 0xDEADBEEF;
        EXPECT_EQ(reg::queryDword(ctx.deviceKeyPath(device), name, v), reg::Status::Ok) << name;
        return v;
    }
    // The device key as a first connect leaves it, so write-backs have somewhere to go.
    void createDeviceKey(std::uint8_t device) { ManageRegistry(ctx, device); }
    engine::Rs232Device& dev(std::uint8_t n) { return ctx.device(n); }

    DriverContext ctx;
    FakeLink link;
};

// ---- the four checks ------------------------------------------------------------------------

const std::vector<std::uint32_t>& perDeviceCodes() {
    static const std::vector<std::uint32_t> codes{
        IOCTL_RS232_SET_ROTATION, IOCTL_RS232_DISABLE_REPORT, IOCTL_RS232_SET_DOWN_EVENT,
        IOCTL_RS232_SET_UP_EVENT, IOCTL_RS232_GET_ROTATION, IOCTL_RS232_SET_UP_SOUND,
        IOCTL_RS232_SET_DOWN_SOUND, IOCTL_RS232_GET_REPORT_STATUS, IOCTL_RS232_CHANGE_COM_PORT,
        IOCTL_RS232_CLOSE_COM_PORT, IOCTL_RS232_WRITE_BUFFER, IOCTL_RS232_READ_BUFFER,
        IOCTL_RS232_READ_LENGTH, IOCTL_RS232_FLUSH_READ_BUFFER, IOCTL_RS232_SET_REPORT_MODE,
        IOCTL_RS232_CAL_POINT_READY, IOCTL_RS232_SET_CAL_POINT, IOCTL_RS232_IS_PEN_UP,
        IOCTL_RS232_REOPEN_COM_PORT, IOCTL_RS232_GET_SOUND_STATUS, IOCTL_RS232_GET_REPORT_MODE,
        IOCTL_RS232_SET_RIGHT_CLICK, IOCTL_RS232_GET_RIGHT_CLICK, IOCTL_RS232_CURRENT_COM_PORT,
        IOCTL_RS232_READ_DISPLAY_NUMBER, IOCTL_RS232_SET_3P_CAL_POINT, IOCTL_RS232_GET_3P_CAL_DATA,
        IOCTL_RS232_SAVE_CAL_DATA, IOCTL_RS232_SET_BASE_POINT, IOCTL_RS232_GET_BASE_POINT,
        IOCTL_RS232_SET_EXPAND, IOCTL_RS232_GET_EXPAND,
        // not served: still refused by the index check first
        Rs232ControlCode(22), Rs232ControlCode(29), Rs232ControlCode(60), 0x12345678};
    return codes;
}

TEST_F(DispatchTest, PointerPortDeviceRefusesEveryControlRequest) {
    for (std::uint32_t code : perDeviceCodes()) {
        const Result r =
            send(ctx, code, std::vector<std::uint8_t>(32, 0), 16, -1, DeviceObject::PointerPort);
        EXPECT_EQ(r.status, kInvalidDeviceRequest) << std::hex << code;
        EXPECT_EQ(r.info, 0u);
    }
    const Result g =
        send(ctx, IOCTL_RS232_QUERY_TOUCH_SEARCH, {}, 4, -1, DeviceObject::PointerPort);
    EXPECT_EQ(g.status, kInvalidDeviceRequest);
}

TEST_F(DispatchTest, APeerOutsideTheGroupMayReadButChangeNothing) {
    const std::vector<std::uint32_t> reads{
        IOCTL_RS232_GET_ROTATION,    IOCTL_RS232_GET_REPORT_STATUS, IOCTL_RS232_READ_LENGTH,
        IOCTL_RS232_CAL_POINT_READY, IOCTL_RS232_IS_PEN_UP,         IOCTL_RS232_GET_SOUND_STATUS,
        IOCTL_RS232_GET_REPORT_MODE, IOCTL_RS232_GET_RIGHT_CLICK,   IOCTL_RS232_CURRENT_COM_PORT,
        IOCTL_RS232_GET_3P_CAL_DATA, IOCTL_RS232_GET_BASE_POINT,    IOCTL_RS232_GET_EXPAND};
    std::vector<std::uint32_t> all = perDeviceCodes();
    all.insert(all.end(), {IOCTL_RS232_ARM_TOUCH_SEARCH, IOCTL_RS232_SET_DISPLAY_PARTITION,
                           IOCTL_RS232_GET_LAST_UP_DEVICE, IOCTL_RS232_SET_MANUAL_RIGHT_CLICK});
    link.setConnected(0, true);
    std::vector<std::uint8_t> request{0, 1, 1, 0, 0, 0, 0x80, 0x25};
    request.resize(32, 0);
    for (std::uint32_t code : all) {
        const bool read = std::find(reads.begin(), reads.end(), code) != reads.end();
        const Result r = send(ctx, code, request, 16, -1, DeviceObject::Control, std::nullopt,
                              ipc::PeerTrust::Other);
        EXPECT_EQ(r.status == kAccessDenied, !read) << std::hex << code;
    }
    EXPECT_EQ(dev(0).Rotation, 0);
    EXPECT_EQ(link.connects(0), 0);
    EXPECT_TRUE(link.writes(0).empty());
    EXPECT_EQ(ctx.extension().TouchSearchArmed, 0);
}

TEST_F(DispatchTest, PerDeviceRequestNeedsAnIndexBelowTheDeviceCountWhateverTheCode) {
    for (std::uint32_t code : perDeviceCodes()) {
        std::vector<std::uint8_t> in(32, 0);
        in[0] = 8;
        Result r = send(ctx, code, in, 16);
        EXPECT_EQ(r.status, kInvalidDeviceRequest) << std::hex << code;
        EXPECT_EQ(r.info, 0u);
        r = send(ctx, code, {}, 16); // no request bytes at all
        EXPECT_EQ(r.status, kInvalidDeviceRequest) << std::hex << code;
        r = send(ctx, code, {0xFF}, 0);
        EXPECT_EQ(r.status, kInvalidDeviceRequest) << std::hex << code;
    }
}

TEST_F(DispatchTest, GlobalCodesNeedNoIndex) {
    const Result r = send(ctx, IOCTL_RS232_QUERY_TOUCH_SEARCH, {}, 4);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 4u);
    EXPECT_EQ(r.buffer, (std::vector<std::uint8_t>{0, 0xFF, 0, 0}));
    // byte 0 of a global code is a field, not an index: 0xFF is fine
    EXPECT_EQ(send(ctx, IOCTL_RS232_ARM_TOUCH_SEARCH, {0xFF}, 1).status, kSuccess);
}

TEST_F(DispatchTest, UnservedFunctionNumbersAreInvalidParameters) {
    for (std::uint32_t f : {0u, 1u, 2u, 22u, 24u, 26u, 29u, 30u, 32u, 44u, 51u, 1000u}) {
        const Result r = send(ctx, Rs232ControlCode(f), {0, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 8);
        EXPECT_EQ(r.status, kInvalidParameter) << f;
        EXPECT_EQ(r.info, 0u);
    }
    // another device type
    EXPECT_EQ(send(ctx, 0x2D0014, {0, 1}, 1).status, kInvalidParameter);
}

TEST_F(DispatchTest, BufferSmallerThanTheLengthsIsRefusedBeforeUse) {
    std::vector<std::uint8_t> buffer(4, 0);
    ipc::Request req;
    req.code = IOCTL_RS232_READ_BUFFER;
    req.inLength = 1;
    req.outLength = 512;
    req.buffer = buffer;
    EXPECT_EQ(KvrRs232_DispatchIoctl(ctx, DeviceObject::Control, req).status, kInvalidParameter);
}

// Each code's own length check: one byte short gives STATUS_BUFFER_TOO_SMALL, info 0, and no
// effect (the device record and the registry are untouched).
struct LengthCase {
    std::uint32_t code;
    std::uint32_t in;  // the failing request length (bytes beyond it are not sent)
    std::uint32_t out; // the failing reply capacity
};

TEST_F(DispatchTest, EachCodeRefusesShortLengthsWithoutEffect) {
    const LengthCase cases[] = {
        {IOCTL_RS232_SET_ROTATION, 1, 1},
        {IOCTL_RS232_DISABLE_REPORT, 1, 1},
        {IOCTL_RS232_SET_DOWN_EVENT, 4, 0},
        {IOCTL_RS232_SET_UP_EVENT, 4, 0},
        {IOCTL_RS232_GET_ROTATION, 1, 0},
        {IOCTL_RS232_SET_UP_SOUND, 1, 1},
        {IOCTL_RS232_SET_DOWN_SOUND, 1, 1},
        {IOCTL_RS232_GET_REPORT_STATUS, 1, 0},
        {IOCTL_RS232_CHANGE_COM_PORT, 8, 1},
        {IOCTL_RS232_WRITE_BUFFER, 3, 0},
        {IOCTL_RS232_WRITE_BUFFER, 12, 0},
        {IOCTL_RS232_READ_BUFFER, 1, 0},
        {IOCTL_RS232_READ_BUFFER, 1, 513},
        {IOCTL_RS232_READ_LENGTH, 1, 3},
        {IOCTL_RS232_SET_REPORT_MODE, 1, 1},
        {IOCTL_RS232_CAL_POINT_READY, 1, 8},
        {IOCTL_RS232_SET_CAL_POINT, 2, 0},
        {IOCTL_RS232_IS_PEN_UP, 1, 0},
        {IOCTL_RS232_GET_SOUND_STATUS, 1, 1},
        {IOCTL_RS232_GET_REPORT_MODE, 1, 0},
        {IOCTL_RS232_SET_RIGHT_CLICK, 1, 1},
        {IOCTL_RS232_GET_RIGHT_CLICK, 1, 4},
        {IOCTL_RS232_CURRENT_COM_PORT, 1, 0},
        {IOCTL_RS232_SET_3P_CAL_POINT, 1, 1},
        {IOCTL_RS232_GET_3P_CAL_DATA, 1, 7},
        {IOCTL_RS232_SAVE_CAL_DATA, 24, 1},
        {IOCTL_RS232_SET_BASE_POINT, 8, 1},
        {IOCTL_RS232_GET_BASE_POINT, 1, 7},
        {IOCTL_RS232_SET_EXPAND, 5, 1},
        {IOCTL_RS232_GET_EXPAND, 1, 4},
        {IOCTL_RS232_GET_EXPAND, 2, 3},
        {IOCTL_RS232_ARM_TOUCH_SEARCH, 0, 1},
        {IOCTL_RS232_QUERY_TOUCH_SEARCH, 0, 3},
        {IOCTL_RS232_SET_DISPLAY_PARTITION, 16, 1},
        {IOCTL_RS232_SET_MANUAL_RIGHT_CLICK, 0, 1},
        {IOCTL_RS232_SET_MANUAL_RIGHT_EVENT, 3, 0},
        {IOCTL_RS232_GET_LAST_DOWN_DEVICE, 0, 0},
        {IOCTL_RS232_GET_LAST_UP_DEVICE, 0, 0},
        {IOCTL_RS232_SET_GLOBAL_DOWN_EVENT, 3, 0},
        {IOCTL_RS232_SET_GLOBAL_UP_EVENT, 3, 0},
    };
    createDeviceKey(0);
    std::vector<reg::Value> before;
    ASSERT_EQ(reg::enumValues(ctx.deviceKeyPath(0), before), reg::Status::Ok);
    for (const LengthCase& c : cases) {
        // Request bytes that would change things if they were used: index 0, then 1s, then a
        // valid COM port / calibration-like pattern.
        std::vector<std::uint8_t> in(32, 1);
        in[0] = IsGlobalCode(c.code) ? 1 : 0;
        const Result r = send(ctx, c.code, in, c.out, -1, DeviceObject::Control, c.in);
        EXPECT_EQ(r.status, kBufferTooSmall) << std::hex << c.code << " in " << std::dec << c.in;
        EXPECT_EQ(r.info, 0u);
    }
    const engine::Rs232Device& d = dev(0);
    EXPECT_EQ(d.Rotation, 0);
    EXPECT_EQ(d.DisableReport, 0);
    EXPECT_EQ(d.ReportMode, engine::kReportModeDrawing);
    EXPECT_EQ(d.CaptureActive, 0);
    EXPECT_EQ(d.DownEventRegistered, 0);
    EXPECT_EQ(ctx.comPort(0), 0);
    EXPECT_EQ(ctx.extension().TouchSearchArmed, 0);
    EXPECT_EQ(ctx.extension().ManualRightClick, 0);
    EXPECT_EQ(ctx.events().size(), 0u);
    EXPECT_TRUE(link.writes(0).empty());
    std::vector<reg::Value> after;
    ASSERT_EQ(reg::enumValues(ctx.deviceKeyPath(0), after), reg::Status::Ok);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i].dword, before[i].dword) << after[i].name;
}

// ---- setting codes: memory, registry, acknowledgement ---------------------------------------

struct SettingCase {
    std::uint32_t code;
    std::uint8_t value;
    std::uint8_t engine::Rs232Device::*field;
    std::uint8_t memory;
    std::string_view regName;
    std::uint32_t regValue;
};

TEST_F(DispatchTest, SettingCodesChangeMemoryAndRegistryAndAcknowledge) {
    using D = engine::Rs232Device;
    const SettingCase cases[] = {
        {IOCTL_RS232_SET_ROTATION, 2, &D::Rotation, 2, regval::kRotation, 2},
        {IOCTL_RS232_SET_ROTATION, 9, &D::Rotation, 9, regval::kRotation, 9}, // any value stored
        {IOCTL_RS232_DISABLE_REPORT, 1, &D::DisableReport, 1, regval::kDisableReport, 1},
        {IOCTL_RS232_DISABLE_REPORT, 2, &D::DisableReport, 1, regval::kDisableReport, 2},
        {IOCTL_RS232_DISABLE_REPORT, 3, &D::DisableReport, 0, regval::kDisableReport, 0},
        {IOCTL_RS232_SET_UP_SOUND, 1, &D::UpSound, 1, regval::kUpSound, 1},
        {IOCTL_RS232_SET_UP_SOUND, 5, &D::UpSound, 0, regval::kUpSound, 0},
        {IOCTL_RS232_SET_DOWN_SOUND, 0, &D::DownSound, 0, regval::kDownSound, 0},
        {IOCTL_RS232_SET_DOWN_SOUND, 1, &D::DownSound, 1, regval::kDownSound, 1},
        {IOCTL_RS232_SET_REPORT_MODE, 1, &D::ReportMode, 1, regval::kReportMode, 1},
        {IOCTL_RS232_SET_REPORT_MODE, 3, &D::ReportMode, 3, regval::kReportMode, 3},
        {IOCTL_RS232_SET_REPORT_MODE, 0, &D::ReportMode, 2, regval::kReportMode, 2},
        {IOCTL_RS232_SET_REPORT_MODE, 7, &D::ReportMode, 2, regval::kReportMode, 2},
        {IOCTL_RS232_SET_RIGHT_CLICK, 1, &D::RightStatus, 1, regval::kRightStatus, 1},
        {IOCTL_RS232_SET_RIGHT_CLICK, 2, &D::RightStatus, 0, regval::kRightStatus, 0},
    };
    createDeviceKey(3);
    for (const SettingCase& c : cases) {
        const Result r = send(ctx, c.code, {3, c.value}, 1);
        EXPECT_EQ(r.status, kSuccess) << std::hex << c.code;
        EXPECT_EQ(r.info, 1u);
        EXPECT_EQ(r.buffer[0], 1);
        EXPECT_EQ(dev(3).*c.field, c.memory) << std::hex << c.code << " " << int(c.value);
        EXPECT_EQ(regDword(3, c.regName), c.regValue) << std::hex << c.code << " " << int(c.value);
    }
    EXPECT_EQ(dev(2).Rotation, 0); // other devices untouched
}

TEST_F(DispatchTest, AckWithReplyWithoutRoomStillChangesButReportsBufferTooSmall) {
    createDeviceKey(0);
    const Result r = send(ctx, IOCTL_RS232_SET_ROTATION, {0, 3}, 0);
    EXPECT_EQ(r.status, kBufferTooSmall);
    EXPECT_EQ(r.info, 0u);
    EXPECT_EQ(dev(0).Rotation, 3);
    EXPECT_EQ(regDword(0, regval::kRotation), 3u);
}

TEST_F(DispatchTest, AckOptionalWithoutRoomSucceedsEmpty) {
    createDeviceKey(0);
    std::vector<std::uint8_t> in{0, 1};
    putDword(in, 200);
    const Result r = send(ctx, IOCTL_RS232_SET_EXPAND, in, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    EXPECT_EQ(dev(0).ExpandUp, 200);
    const Result m = send(ctx, IOCTL_RS232_SET_MANUAL_RIGHT_CLICK, {1}, 0);
    EXPECT_EQ(m.status, kSuccess);
    EXPECT_EQ(m.info, 0u);
    EXPECT_EQ(ctx.extension().ManualRightClick, 1);
}

TEST_F(DispatchTest, GetCodesReplyWithTheirInfoCounts) {
    {
        std::lock_guard g(dev(1).Lock);
        dev(1).Rotation = 2;
        dev(1).DisableReport = 1;
        dev(1).DownSound = 1;
        dev(1).UpSound = 0;
        dev(1).ReportMode = 3;
        dev(1).RightStatus = 1;
        dev(1).PenLifted = 1;
        dev(1).BPX = 1000;
        dev(1).BPY = 2000;
    }
    Result r = send(ctx, IOCTL_RS232_GET_ROTATION, {1}, 1);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 2);
    r = send(ctx, IOCTL_RS232_GET_REPORT_STATUS, {1}, 1);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 1);
    r = send(ctx, IOCTL_RS232_GET_SOUND_STATUS, {1}, 2);
    EXPECT_EQ(r.info, 2u);
    EXPECT_EQ(r.buffer, (std::vector<std::uint8_t>{1, 0}));
    r = send(ctx, IOCTL_RS232_GET_REPORT_MODE, {1}, 1);
    EXPECT_EQ(r.buffer[0], 3);
    r = send(ctx, IOCTL_RS232_GET_RIGHT_CLICK, {1}, 5);
    EXPECT_EQ(r.info, 5u);
    EXPECT_EQ(dwordAt(r.buffer, 0), 400u);
    EXPECT_EQ(r.buffer[4], 1);
    r = send(ctx, IOCTL_RS232_IS_PEN_UP, {1}, 1);
    EXPECT_EQ(r.buffer[0], 1);
    r = send(ctx, IOCTL_RS232_GET_BASE_POINT, {1}, 8);
    EXPECT_EQ(r.info, 8u);
    EXPECT_EQ(dwordAt(r.buffer, 0), 1000u);
    EXPECT_EQ(dwordAt(r.buffer, 4), 2000u);
    r = send(ctx, IOCTL_RS232_CURRENT_COM_PORT, {1}, 1);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 0); // no COM port until one is set
}

// ---- serial connection codes ----------------------------------------------------------------

std::vector<std::uint8_t> comRequest(std::uint8_t device, std::uint32_t com, std::uint32_t baud,
                                     std::optional<std::uint8_t> format = std::nullopt) {
    std::vector<std::uint8_t> in{device};
    putDword(in, com);
    putDword(in, baud);
    if (format) {
        in.push_back(*format);
        in.insert(in.end(), {0, 0, 0});
    }
    return in;
}

TEST_F(DispatchTest, ChangeComPortStoresSettingsAndConnects) {
    const Result r = send(ctx, IOCTL_RS232_CHANGE_COM_PORT, comRequest(2, 5, 19200), 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(link.connects(2), 1);
    EXPECT_TRUE(link.connected(2));
    EXPECT_EQ(ctx.comPort(2), 5);
    // The fake connect loaded the registry, which resets the stored rate to 9600.
    EXPECT_EQ(ctx.baudRate(2), 9600u);
    EXPECT_EQ(send(ctx, IOCTL_RS232_CURRENT_COM_PORT, {2}, 1).buffer[0], 5);

    // Connected: the new port is stored for the next connect, no second connect now.
    EXPECT_EQ(send(ctx, IOCTL_RS232_CHANGE_COM_PORT, comRequest(2, 7, 38400), 1).status, kSuccess);
    EXPECT_EQ(link.connects(2), 1);
    EXPECT_EQ(ctx.comPort(2), 7);
    EXPECT_EQ(ctx.baudRate(2), 38400u);
}

TEST_F(DispatchTest, ChangeComPortWithoutReplyRoomStillConnects) {
    const Result r = send(ctx, IOCTL_RS232_CHANGE_COM_PORT, comRequest(1, 16, 9600), 0);
    EXPECT_EQ(r.status, kBufferTooSmall);
    EXPECT_EQ(r.info, 0u);
    EXPECT_EQ(ctx.comPort(1), 16);
    EXPECT_TRUE(link.connected(1));
}

TEST_F(DispatchTest, ChangeComPortRefusesPortZeroAndAboveSixteen) {
    for (std::uint32_t com : {0u, 17u, 0xFFFFFFFFu}) {
        const Result r = send(ctx, IOCTL_RS232_CHANGE_COM_PORT, comRequest(0, com, 9600, 2), 1);
        EXPECT_EQ(r.status, kBufferTooSmall) << com;
        EXPECT_EQ(ctx.comPort(0), 0);
        EXPECT_EQ(dev(0).PacketFormat, 0);
        EXPECT_EQ(link.connects(0), 0);
    }
}

TEST_F(DispatchTest, ChangeComPortPacketFormatByte) {
    struct Case {
        std::optional<std::uint8_t> format;
        std::uint8_t expected;
    };
    for (const Case c : {Case{std::nullopt, 0}, Case{7, 0}, Case{2, 2}, Case{4, 4}, Case{3, 3}}) {
        link.setConnected(0, true); // keep the fake from connecting
        {
            std::lock_guard g(dev(0).Lock);
            dev(0).PacketFormat = 1;
        }
        EXPECT_EQ(
            send(ctx, IOCTL_RS232_CHANGE_COM_PORT, comRequest(0, 1, 9600, c.format), 1).status,
            kSuccess);
        EXPECT_EQ(dev(0).PacketFormat, c.expected);
    }
    // in = 10..12 carries the byte but not the whole optional field: format 0
    std::vector<std::uint8_t> in = comRequest(0, 1, 9600, 2);
    EXPECT_EQ(send(ctx, IOCTL_RS232_CHANGE_COM_PORT, in, 1, -1, DeviceObject::Control, 12).status,
              kSuccess);
    EXPECT_EQ(dev(0).PacketFormat, 0);
}

TEST_F(DispatchTest, CloseAndReopen) {
    EXPECT_EQ(send(ctx, IOCTL_RS232_CHANGE_COM_PORT, comRequest(4, 3, 9600), 1).status, kSuccess);
    Result r = send(ctx, IOCTL_RS232_CLOSE_COM_PORT, {4}, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    EXPECT_FALSE(link.connected(4));
    r = send(ctx, IOCTL_RS232_REOPEN_COM_PORT, {4}, 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    EXPECT_TRUE(link.connected(4));
    EXPECT_EQ(link.connects(4), 2);
    // already connected: nothing
    EXPECT_EQ(send(ctx, IOCTL_RS232_REOPEN_COM_PORT, {4}, 0).status, kBufferTooSmall);
    EXPECT_EQ(link.connects(4), 2);
}

TEST_F(DispatchTest, WriteBufferSendsTheBytesOfConnectedDevicesOnly) {
    const std::vector<std::uint8_t> frame{5, 0x01, 'G', 'P', '9', 'E', 0x0D, 'x', 'y', 'z', 'w'};
    Result r = send(ctx, IOCTL_RS232_WRITE_BUFFER, frame, 0);
    EXPECT_EQ(r.status, kBufferTooSmall); // not connected
    link.setConnected(5, true);
    r = send(ctx, IOCTL_RS232_WRITE_BUFFER, frame, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    ASSERT_EQ(link.writes(5).size(), 1u);
    EXPECT_EQ(link.writes(5)[0],
              std::vector<std::uint8_t>(frame.begin() + 1, frame.end())); // ten bytes
    r = send(ctx, IOCTL_RS232_WRITE_BUFFER, frame, 0, -1, DeviceObject::Control, 4);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(link.writes(5)[1], (std::vector<std::uint8_t>{0x01, 'G', 'P'}));
}

TEST_F(DispatchTest, ResponseQueueCodes) {
    for (std::uint8_t b : std::initializer_list<std::uint8_t>{0x01, '0', 0x0D})
        engine::QueueResponseData(b, dev(6));
    Result r = send(ctx, IOCTL_RS232_READ_LENGTH, {6}, 4);
    EXPECT_EQ(r.info, 4u);
    EXPECT_EQ(dwordAt(r.buffer, 0), 3u);
    r = send(ctx, IOCTL_RS232_READ_BUFFER, {6}, 10);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(r.buffer.begin(), r.buffer.begin() + 3),
              (std::vector<std::uint8_t>{0x01, '0', 0x0D}));
    r = send(ctx, IOCTL_RS232_READ_BUFFER, {6}, 512);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    for (std::uint8_t b : {1, 2})
        engine::QueueResponseData(b, dev(6));
    EXPECT_EQ(send(ctx, IOCTL_RS232_FLUSH_READ_BUFFER, {6}, 0).status, kSuccess);
    EXPECT_EQ(engine::QueueDataLength(dev(6)), 0u);
}

// ---- calibration capture codes --------------------------------------------------------------

TEST_F(DispatchTest, MultiPointCaptureStartsAndStops) {
    Result r = send(ctx, IOCTL_RS232_SET_CAL_POINT, {0, 5, 4}, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(dev(0).CaptureKind, 5);
    EXPECT_EQ(dev(0).CaptureIndex, 4);
    EXPECT_EQ(dev(0).CaptureActive, 1);
    for (auto [n, k] : {std::pair{4, 0}, std::pair{5, 5}, std::pair{9, 200}}) {
        send(ctx, IOCTL_RS232_SET_CAL_POINT, {0, 9, 8}, 0);
        {
            std::lock_guard g(dev(0).Lock);
            dev(0).PenLifted = 1;
            dev(0).PointReady = 1;
        }
        EXPECT_EQ(send(ctx, IOCTL_RS232_SET_CAL_POINT,
                       {0, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(k)}, 0)
                      .status,
                  kSuccess);
        EXPECT_EQ(dev(0).CaptureActive, 0) << n << "," << k;
        EXPECT_EQ(dev(0).CaptureKind, 0);
        EXPECT_EQ(dev(0).PenLifted, 0);
        EXPECT_EQ(dev(0).PointReady, 0);
    }
}

TEST_F(DispatchTest, PointReadyRepliesNineBytes) {
    {
        std::lock_guard g(dev(0).Lock);
        dev(0).CaptureIndex = 2;
        dev(0).RawPoint[2] = {1234, 567};
    }
    Result r = send(ctx, IOCTL_RS232_CAL_POINT_READY, {0}, 9);
    EXPECT_EQ(r.info, 9u);
    EXPECT_EQ(r.buffer, std::vector<std::uint8_t>(9, 0));
    dev(0).PointReady = 1;
    r = send(ctx, IOCTL_RS232_CAL_POINT_READY, {0}, 9);
    EXPECT_EQ(r.buffer[0], 1);
    EXPECT_EQ(dwordAt(r.buffer, 1), 1234u);
    EXPECT_EQ(dwordAt(r.buffer, 5), 567u);
    r = send(ctx, IOCTL_RS232_GET_3P_CAL_DATA, {0}, 8);
    EXPECT_EQ(r.info, 8u);
    EXPECT_EQ(dwordAt(r.buffer, 0), 1234u);
    EXPECT_EQ(dwordAt(r.buffer, 4), 567u);
    dev(0).PointReady = 0;
    r = send(ctx, IOCTL_RS232_GET_3P_CAL_DATA, {0}, 8);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
}

TEST_F(DispatchTest, ThreePointCaptureStartsAndStops) {
    {
        std::lock_guard g(dev(0).Lock);
        dev(0).RawPoint[1] = {9, 9};
        dev(0).RawPoint[0] = {7, 7};
        dev(0).PenLifted = 1;
    }
    Result r = send(ctx, IOCTL_RS232_SET_3P_CAL_POINT, {0, 1}, 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 1);
    EXPECT_EQ(dev(0).CaptureKind, engine::kCaptureKindThreePoint);
    EXPECT_EQ(dev(0).CaptureIndex, 1);
    EXPECT_EQ(dev(0).CaptureActive, 1);
    EXPECT_EQ(dev(0).PenLifted, 0);
    EXPECT_EQ(dev(0).RawPoint[1].x, 0u);
    r = send(ctx, IOCTL_RS232_SET_3P_CAL_POINT, {0, 2}, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    dev(0).PenLifted = 1;
    r = send(ctx, IOCTL_RS232_SET_3P_CAL_POINT, {0, 3}, 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    EXPECT_EQ(dev(0).CaptureActive, 0);
    EXPECT_EQ(dev(0).CaptureKind, 0);
    EXPECT_EQ(dev(0).PenLifted, 1); // left as it was
    EXPECT_EQ(dev(0).RawPoint[0].x, 0u);
}

TEST_F(DispatchTest, SaveCalibrationAndBasePointWriteEveryValue) {
    createDeviceKey(1);
    std::vector<std::uint8_t> in{1};
    for (std::uint32_t v : {200u, 210u, 3900u, 3800u, 3950u, 150u})
        putDword(in, v);
    Result r = send(ctx, IOCTL_RS232_SAVE_CAL_DATA, in, 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(dev(1).CP1X, 200);
    EXPECT_EQ(dev(1).CP3Y, 150);
    EXPECT_EQ(regDword(1, "CP1X"), 200u);
    EXPECT_EQ(regDword(1, "CP1Y"), 210u);
    EXPECT_EQ(regDword(1, "CP2X"), 3900u);
    EXPECT_EQ(regDword(1, "CP2Y"), 3800u);
    EXPECT_EQ(regDword(1, "CP3X"), 3950u);
    EXPECT_EQ(regDword(1, "CP3Y"), 150u);

    std::vector<std::uint8_t> bp{1};
    putDword(bp, 4000);
    putDword(bp, 100);
    r = send(ctx, IOCTL_RS232_SET_BASE_POINT, bp, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    EXPECT_EQ(dev(1).BPX, 4000);
    EXPECT_EQ(regDword(1, "BPY"), 100u);
}

TEST_F(DispatchTest, CalibrationThatWouldDivideByZeroIsRefusedAndChangesNothing) {
    createDeviceKey(0);
    const std::vector<std::vector<std::uint32_t>> bad{
        {100, 100, 100, 3000, 100, 200},      // all targets on one vertical line
        {1000, 1000, 1001, 1002, 1002, 1001}, // closer than 4 raw units: zero at mapping resolution
        {128, 128, 3968, 3968, 5000, 128},    // not a 12-bit position
    };
    for (const auto& set : bad) {
        std::vector<std::uint8_t> in{0};
        for (std::uint32_t v : set)
            putDword(in, v);
        const Result r = send(ctx, IOCTL_RS232_SAVE_CAL_DATA, in, 1);
        EXPECT_EQ(r.status, kInvalidParameter);
        EXPECT_EQ(r.info, 0u);
        EXPECT_EQ(dev(0).CP1X, engine::kDefaultCP1X);
        EXPECT_EQ(dev(0).CP3X, engine::kDefaultCP3X);
        EXPECT_EQ(regDword(0, "CP1X"), 128u);
    }
    std::vector<std::uint8_t> bp{0};
    putDword(bp, 0x7FFFFFFF);
    putDword(bp, 100);
    EXPECT_EQ(send(ctx, IOCTL_RS232_SET_BASE_POINT, bp, 1).status, kInvalidParameter);
    EXPECT_EQ(dev(0).BPX, engine::kDefaultBPX);
    EXPECT_EQ(regDword(0, "BPX"), 3968u);
}

// ---- edge expansion -------------------------------------------------------------------------

TEST_F(DispatchTest, ExpandSidesStoreLowBitsAndRegistryWholeValue) {
    createDeviceKey(0);
    struct Case {
        std::uint8_t side;
        std::uint16_t engine::Rs232Device::*field;
        std::string_view name;
    };
    using D = engine::Rs232Device;
    for (const Case c :
         {Case{1, &D::ExpandUp, "ExpandUp"}, Case{2, &D::ExpandDown, "ExpandDown"},
          Case{3, &D::ExpandLeft, "ExpandLeft"}, Case{4, &D::ExpandRight, "ExpandRight"}}) {
        std::vector<std::uint8_t> in{0, c.side};
        putDword(in, 0x00010064); // low 16 bits 100
        const Result r = send(ctx, IOCTL_RS232_SET_EXPAND, in, 1);
        EXPECT_EQ(r.status, kSuccess);
        EXPECT_EQ(r.info, 1u);
        EXPECT_EQ(dev(0).*c.field, 100);
        EXPECT_EQ(regDword(0, c.name), 0x00010064u);
        const Result g = send(ctx, IOCTL_RS232_GET_EXPAND, {0, c.side}, 4);
        EXPECT_EQ(g.info, 4u);
        EXPECT_EQ(dwordAt(g.buffer, 0), 100u);
    }
    // Another side: acknowledged, nothing changed; the reply leaves the buffer as it was.
    std::vector<std::uint8_t> in{0, 5};
    putDword(in, 7);
    EXPECT_EQ(send(ctx, IOCTL_RS232_SET_EXPAND, in, 1).status, kSuccess);
    const Result g = send(ctx, IOCTL_RS232_GET_EXPAND, {0, 9, 0xAA, 0xBB}, 4);
    EXPECT_EQ(g.status, kSuccess);
    EXPECT_EQ(g.info, 4u);
    EXPECT_EQ(g.buffer, (std::vector<std::uint8_t>{0, 9, 0xAA, 0xBB}));
}

// ---- driver-wide codes ----------------------------------------------------------------------

TEST_F(DispatchTest, TouchSearchArmsAndReportsOnce) {
    Result r = send(ctx, IOCTL_RS232_ARM_TOUCH_SEARCH, {0x0E}, 1); // display index 2, arrangement 3
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(ctx.extension().TouchSearchArmed, 1);
    r = send(ctx, IOCTL_RS232_QUERY_TOUCH_SEARCH, {}, 4);
    EXPECT_EQ(r.buffer, (std::vector<std::uint8_t>{0, 0xFF, 0, 0}));
    EXPECT_EQ(ctx.extension().TouchSearchArmed, 1); // still armed before any touch
    {
        std::lock_guard g(ctx.extension().Lock);
        ctx.extension().TouchSearchFound = 1;
        ctx.extension().TouchSearchDevice = 6;
    }
    r = send(ctx, IOCTL_RS232_QUERY_TOUCH_SEARCH, {}, 4);
    EXPECT_EQ(r.info, 4u);
    EXPECT_EQ(r.buffer, (std::vector<std::uint8_t>{1, 6, 2, 3}));
    EXPECT_EQ(ctx.extension().TouchSearchArmed, 0);
    EXPECT_EQ(send(ctx, IOCTL_RS232_ARM_TOUCH_SEARCH, {1}, 0).status,
              kBufferTooSmall); // ack-with-reply
    EXPECT_EQ(ctx.extension().TouchSearchArmed, 1);
}

TEST_F(DispatchTest, TouchSearchRecordsTheDeviceWhoseTouchEnds) {
    ASSERT_EQ(send(ctx, IOCTL_RS232_ARM_TOUCH_SEARCH, {0x05}, 1).status, kSuccess);
    const std::uint8_t penDown[] = {0xC0, 0x10, 0x20, 0x30, 0x40};
    const std::uint8_t penUp[] = {0x80, 0x10, 0x20, 0x30, 0x40};
    engine::DecodeChunk(dev(3), penDown, sizeof penDown);
    EXPECT_EQ(send(ctx, IOCTL_RS232_QUERY_TOUCH_SEARCH, {}, 4).buffer[0], 0);
    engine::DecodeChunk(dev(3), penUp, sizeof penUp);
    engine::DecodeChunk(dev(5), penUp, sizeof penUp); // a later touch end does not replace it
    const Result r = send(ctx, IOCTL_RS232_QUERY_TOUCH_SEARCH, {}, 4);
    EXPECT_EQ(r.buffer, (std::vector<std::uint8_t>{1, 3, 1, 1}));
}

TEST_F(DispatchTest, DisplayPartitionEntries) {
    std::vector<std::uint8_t> in{9};
    for (std::uint32_t v : {131070u, 65535u, 65535u, 65535u})
        putDword(in, v);
    Result r = send(ctx, IOCTL_RS232_SET_DISPLAY_PARTITION, in, 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 1);
    EXPECT_EQ(ctx.extension().DisplayPartition[8].originX, 131070);
    EXPECT_EQ(ctx.extension().DisplayPartition[8].originY, 65535);
    for (std::uint8_t number : {0, 10, 255}) {
        in[0] = number;
        r = send(ctx, IOCTL_RS232_SET_DISPLAY_PARTITION, in, 1);
        EXPECT_EQ(r.status, kSuccess);
        EXPECT_EQ(r.info, 1u);
        EXPECT_EQ(r.buffer[0], 0);
    }
    EXPECT_EQ(ctx.extension().DisplayPartition[0].originX, 0);
}

TEST_F(DispatchTest, LastDownAndUpDevices) {
    {
        std::lock_guard g(ctx.extension().Lock);
        ctx.extension().LastDownDevice = 3;
        ctx.extension().LastUpDevice = 4;
    }
    EXPECT_EQ(send(ctx, IOCTL_RS232_GET_LAST_DOWN_DEVICE, {}, 1).buffer[0], 3);
    EXPECT_EQ(ctx.extension().LastDownDevice, 3);
    const Result r = send(ctx, IOCTL_RS232_GET_LAST_UP_DEVICE, {}, 1);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 4);
    EXPECT_EQ(ctx.extension().LastDownDevice, 0xFF);
    EXPECT_EQ(ctx.extension().LastUpDevice, 0xFF);
}

TEST_F(DispatchTest, ManualRightClickFlag) {
    EXPECT_EQ(send(ctx, IOCTL_RS232_SET_MANUAL_RIGHT_CLICK, {1}, 1).info, 1u);
    EXPECT_EQ(ctx.extension().ManualRightClick, 1);
    EXPECT_EQ(send(ctx, IOCTL_RS232_SET_MANUAL_RIGHT_CLICK, {2}, 1).status, kSuccess);
    EXPECT_EQ(ctx.extension().ManualRightClick, 0);
}

// ---- display number query -------------------------------------------------------------------

TEST_F(DispatchTest, ReadDisplayNumberJudgesTheReply) {
    link.setConnected(0, true);
    // Answer the 9E query with SOH '0' '6' '0' '0' CR (v = 6: arrangement 1, index 2), and
    // queue junk after the reset, which the query must flush.
    link.onWrite([this](std::uint8_t n, const std::vector<std::uint8_t>& bytes) {
        if (bytes.size() == 3 && bytes[1] == 'R') engine::QueueResponseData('j', dev(n));
        if (bytes.size() == 6 && bytes[1] == 'G') {
            for (std::uint8_t b :
                 std::initializer_list<std::uint8_t>{0x01, '0', '6', '0', '0', 0x0D})
                engine::QueueResponseData(b, dev(n));
        }
    });
    const engine::DisplayPartitionEntry before = ctx.extension().DisplayPartition[2];
    Result r = send(ctx, IOCTL_RS232_READ_DISPLAY_NUMBER, {0}, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 0u);
    EXPECT_EQ(dev(0).DisplayArrangement, 1);
    EXPECT_EQ(dev(0).DisplayIndex, 2);
    EXPECT_EQ(ctx.extension().DisplayPartition[2].originX, before.originX); // not changed here
    const auto writes = link.writes(0);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], (std::vector<std::uint8_t>{0x01, 'R', 0x0D}));
    EXPECT_EQ(writes[1], (std::vector<std::uint8_t>{0x01, 'G', 'P', '9', 'E', 0x0D}));

    link.onWrite(nullptr); // a silent controller
    r = send(ctx, IOCTL_RS232_READ_DISPLAY_NUMBER, {0}, 0);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(dev(0).DisplayArrangement, 0);
    EXPECT_EQ(dev(0).DisplayIndex, 0);
}

// ---- internal requests, open and close ------------------------------------------------------

class RecordingService final : public PointerClassService {
public:
    void deliver(const engine::MouseInputData& r) override { records.push_back(r); }
    void setDesktop(const PointerDesktop& d) override { desktops.push_back(d); }
    std::vector<engine::MouseInputData> records;
    std::vector<PointerDesktop> desktops;
};

// The tables the library sends give the pointer port the desktop around their displays; a
// table starts at its first entry, so entries of a longer table before drop out.
TEST_F(DispatchTest, DisplayTablesGiveThePointerPortTheirDesktop) {
    RecordingService service;
    PointerConnectData data{nullptr, &service};
    ASSERT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, IOCTL_INTERNAL_MOUSE_CONNECT,
                                   &data, sizeof data),
              kSuccess);
    const std::uint32_t w = 65471, h = 65449; // 1024 x 768 displays: 1023 * 65535 / 1024, ...
    struct Case {
        std::vector<std::array<std::uint32_t, 5>> table; // number, origin x, y, extent x, y
        PointerDesktop expected;
    } cases[] = {{{{1, 0, 0, w, h}, {2, 65535, 0, w, h}}, {0, 0, 131071, 65536}},
                 {{{1, 0, 0, w, h}}, {0, 0, 65536, 65536}},
                 {{{1, 0, 0, w, h}, {2, std::uint32_t(-65535), 0, w, h}, {3, 0, 0, w / 2, h}},
                  {-65535, 0, 65536, 65536}}}; // one left of it, and a part of a display
    for (const Case& c : cases) {
        for (const auto& e : c.table) {
            std::vector<std::uint8_t> in{static_cast<std::uint8_t>(e[0])};
            for (std::size_t k = 1; k < e.size(); ++k)
                putDword(in, e[k]);
            ASSERT_EQ(send(ctx, IOCTL_RS232_SET_DISPLAY_PARTITION, in, 1).buffer[0], 1);
        }
        EXPECT_EQ(service.desktops.back(), c.expected) << service.desktops.back().right;
    }
}

TEST_F(DispatchTest, PointerClassConnectIsAcceptedOnceOnThePointerPort) {
    RecordingService service;
    int classDevice = 0;
    PointerConnectData data{&classDevice, &service};
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::Control, IOCTL_INTERNAL_MOUSE_CONNECT, &data,
                                   sizeof data),
              kNotImplemented);
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, IOCTL_INTERNAL_MOUSE_CONNECT,
                                   &data, 7),
              kInvalidParameter);
    PointerConnectData empty{};
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, IOCTL_INTERNAL_MOUSE_CONNECT,
                                   &empty, sizeof empty),
              kInvalidParameter);
    EXPECT_FALSE(ctx.pointerPort().connected());
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, IOCTL_INTERNAL_MOUSE_CONNECT,
                                   &data, sizeof data),
              kSuccess);
    EXPECT_TRUE(ctx.pointerPort().connected());
    EXPECT_EQ(ctx.pointerPort().classDeviceObject(), &classDevice);
    RecordingService other;
    PointerConnectData second{nullptr, &other};
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, IOCTL_INTERNAL_MOUSE_CONNECT,
                                   &second, sizeof second),
              kSharingViolation);
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, IOCTL_INTERNAL_MOUSE_DISCONNECT,
                                   nullptr, 0),
              kNotImplemented);
    EXPECT_EQ(KvrRs232_InternIoCtl(ctx, DeviceObject::PointerPort, 0xF0FFF, nullptr, 0), kSuccess);

    // The engine's deliveries reach the stored callback.
    engine::MouseInputData rec;
    rec.lastX = 42;
    {
        std::lock_guard g(ctx.extension().Pointer.Lock);
        ctx.extension().Pointer.Port->deliver(rec);
    }
    ASSERT_EQ(service.records.size(), 1u);
    EXPECT_EQ(service.records[0].lastX, 42);
    EXPECT_TRUE(other.records.empty());
}

TEST_F(DispatchTest, OpenAndCloseCarryNoState) {
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(KvrRs232Open(ctx, DeviceObject::Control).status, kSuccess);
        EXPECT_EQ(KvrRs232Close(ctx, DeviceObject::Control).information, 0u);
    }
    for (std::uint8_t n = 0; n < 8; ++n)
        EXPECT_EQ(send(ctx, IOCTL_RS232_CURRENT_COM_PORT, {n}, 1).buffer[0], 0);
}

// ---- USB role -------------------------------------------------------------------------------

TEST(DispatchUsbRole, FourUnitsAndTheDoubleClickSwitch) {
    DriverContext usb(kUsbRole);
    ManageRegistry(usb, 3);
    EXPECT_EQ(send(usb, IOCTL_RS232_GET_ROTATION, {4}, 1).status, kInvalidDeviceRequest);
    EXPECT_EQ(send(usb, IOCTL_RS232_GET_ROTATION, {3}, 1).status, kSuccess);
    Result r = send(usb, IOCTL_RS232_SET_DOUBLE_CLICK, {3, 1}, 1);
    EXPECT_EQ(r.status, kSuccess);
    EXPECT_EQ(r.info, 1u);
    std::uint32_t v = 0;
    EXPECT_EQ(reg::queryDword(usb.deviceKeyPath(3), "DoubleClick", v), reg::Status::Ok);
    EXPECT_EQ(v, 1u);
    r = send(usb, IOCTL_RS232_GET_DOUBLE_CLICK, {3}, 1);
    EXPECT_EQ(r.info, 1u);
    EXPECT_EQ(r.buffer[0], 1);
    EXPECT_EQ(send(usb, IOCTL_RS232_SET_DOUBLE_CLICK, {3, 7}, 0).status, kBufferTooSmall);
    EXPECT_EQ(usb.doubleClick(3), 0);
    EXPECT_EQ(send(usb, IOCTL_RS232_GET_DOUBLE_CLICK, {3}, 0).status, kBufferTooSmall);
    EXPECT_NE(usb.deviceKeyPath(3).find("\\Kvr\\USB\\Device3"), std::string::npos);

    // The serial role refuses both.
    DriverContext serial(kSerialRole);
    EXPECT_EQ(send(serial, IOCTL_RS232_SET_DOUBLE_CLICK, {0, 1}, 1).status, kInvalidParameter);
    EXPECT_EQ(send(serial, IOCTL_RS232_GET_DOUBLE_CLICK, {0}, 1).status, kInvalidParameter);
}

} // namespace
} // namespace kvr::driver::test
