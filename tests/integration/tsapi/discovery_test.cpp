// Controller discovery and access through libtsapi: the controller table from the registry
// markers, handles and open counts, the raw channel, pen and report state, the touch-up event,
// the COM port and the driver's version and port texts, against the real driver daemon and
// emulated controllers. Every case runs in its own process with its own registry.

#include "platform/clock/clock.h"
#include "platform/common/unique_fd.h"
#include "platform/desktop/version_note.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace kvr::test::tsapi {
namespace {

constexpr std::uint32_t kSetThreePointCapture = 0x220094; // arms a raw-point capture
constexpr std::uint32_t kSetUpSound = 0x220020;           // the touch-up sound switch

std::string controllerName(std::uint8_t index, std::uint8_t length = 32) {
    std::vector<char> buffer(length + 1, '#');
    if (GetControllerName(index, buffer.data(), length) != 1) return "<refused>";
    return std::string(buffer.data());
}

std::vector<std::string> tableNames() {
    std::vector<std::string> out;
    const std::uint8_t n = GetExistControllers();
    for (std::uint8_t i = 1; i <= n; ++i)
        out.push_back(controllerName(i));
    return out;
}

std::vector<std::uint8_t> frame(const std::string& text) {
    std::vector<std::uint8_t> f(text.size() + 2);
    f.front() = 0x01;
    std::copy(text.begin(), text.end(), f.begin() + 1);
    f.back() = 0x0D;
    return f;
}

// Options for a bench with the USB role, and with the serial role when `serial`.
Bench::Options withUsb(bool serial) {
    Bench::Options options;
    options.serial = serial;
    options.usb = true;
    return options;
}

// Waits until the driver holds at least `count` reply bytes for the controller.
bool waitPending(std::int32_t handle, std::uint32_t count) {
    return waitUntil([&] { return ReadLength(handle) >= count; });
}

// ---- enumeration from the registry markers ---------------------------------------------------

struct EnumerationCase {
    const char* label;
    std::vector<std::string> markers; // in creation order
    std::vector<std::string> expected;
    std::uint8_t count;
};

void PrintTo(const EnumerationCase& c, std::ostream* os) {
    *os << c.label;
}

class TsapiEnumeration : public ::testing::TestWithParam<EnumerationCase> {};

TEST_P(TsapiEnumeration, ListsTheMarkersInOrder) {
    const auto& c = GetParam();
    ASSERT_TRUE(writeMarkers(c.markers));
    EXPECT_EQ(GetExistControllers(), c.count);
    std::vector<std::string> names;
    for (std::uint8_t i = 1; i <= c.count; ++i)
        names.push_back(controllerName(i));
    EXPECT_EQ(names, c.expected);
}

const std::vector<std::string> kTenSerial = {
    "RS232_DEVICE0", "RS232_DEVICE1", "RS232_DEVICE2", "RS232_DEVICE3", "RS232_DEVICE4",
    "RS232_DEVICE5", "RS232_DEVICE6", "RS232_DEVICE7", "USB_DEVICE0",   "USB_DEVICE1"};

INSTANTIATE_TEST_SUITE_P(
    Markers, TsapiEnumeration,
    ::testing::Values(
        EnumerationCase{
            "SerialAndUsb", {"RS232_DEVICE0", "USB_DEVICE1"}, {"RS232_DEVICE0", "USB_DEVICE1"}, 2},
        EnumerationCase{"CreationOrderNotNameOrder",
                        {"USB_DEVICE3", "RS232_DEVICE5", "RS232_DEVICE0"},
                        {"USB_DEVICE3", "RS232_DEVICE5", "RS232_DEVICE0"},
                        3},
        // Only the two prefixes count, with their case; other values are not controllers.
        EnumerationCase{"OtherValuesSkipped",
                        {"COMPORT", "RS232_DEVIC", "rs232_device1", "USB_DEVICE", "Usb_Device2",
                         "RS232_DEVICE4"},
                        {"USB_DEVICE", "RS232_DEVICE4"},
                        2},
        // A name of 19 characters fits the 20-byte field; one of 20 does not and is skipped.
        EnumerationCase{"LongNamesSkipped",
                        {"RS232_DEVICE1234567", "RS232_DEVICE12345678", "USB_DEVICE123456789"},
                        {"RS232_DEVICE1234567", "USB_DEVICE123456789"},
                        2},
        EnumerationCase{
            "CappedAtEight", kTenSerial, {kTenSerial.begin(), kTenSerial.begin() + 8}, 8}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(TsapiDiscovery, NoControllerKeyMeansNoController) {
    EXPECT_EQ(GetExistControllers(), 0);
    EXPECT_EQ(controllerName(1), "");
    EXPECT_EQ(OpenController("RS232_DEVICE0"), -1);
}

// A settings store the library cannot open is its result (no controller), never a line on the
// calling program's stderr.
TEST(TsapiDiscovery, AnUnusableStoreIsNoControllerAndNoOutput) {
    const auto file = stateDir() / "not-a-folder";
    std::ofstream(file) << "x";
    ::setenv("KVR_STATE_DIR", file.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetExistControllers(), 0);
    EXPECT_EQ(OpenController("RS232_DEVICE0"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ::setenv("KVR_STATE_DIR", stateDir().c_str(), 1);
}

TEST(TsapiDiscovery, TheTableIsRebuiltByEveryEnumeration) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "RS232_DEVICE1", "USB_DEVICE0"}));
    EXPECT_EQ(tableNames(),
              (std::vector<std::string>{"RS232_DEVICE0", "RS232_DEVICE1", "USB_DEVICE0"}));
    ASSERT_EQ(reg::deleteValue(kControllerKey, "RS232_DEVICE0"), reg::Status::Ok);
    EXPECT_EQ(tableNames(), (std::vector<std::string>{"RS232_DEVICE1", "USB_DEVICE0"}));
    // Without the key the result is 0 and no stale name stays behind.
    ASSERT_TRUE(clearMarkers());
    EXPECT_EQ(GetExistControllers(), 0);
    EXPECT_EQ(controllerName(1), "");
    EXPECT_EQ(controllerName(2), "");
    EXPECT_EQ(OpenController("RS232_DEVICE1"), -1);
    EXPECT_EQ(OpenController(""), -1);
}

TEST(TsapiDiscovery, OpeningNeedsTheTableFilledFirst) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0"}));
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    EXPECT_EQ(OpenController("RS232_DEVICE0"), -1); // this process has not enumerated yet
    EXPECT_EQ(GetExistControllers(), 1);
    const std::int32_t h = OpenController("RS232_DEVICE0");
    EXPECT_EQ(h, 100);
    EXPECT_EQ(CloseController(h), 1);
}

// ---- names -----------------------------------------------------------------------------------

TEST(TsapiNames, TheBufferMustHoldNameAndTerminator) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "USB_DEVICE1"}));
    ASSERT_EQ(GetExistControllers(), 2);
    const std::string name = "RS232_DEVICE0"; // 13 characters
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetControllerName(1, buffer, static_cast<std::uint8_t>(name.size())), 0);
    EXPECT_EQ(buffer[0], '#') << "a refused name leaves the buffer untouched";
    EXPECT_EQ(GetControllerName(1, buffer, static_cast<std::uint8_t>(name.size() + 1)), 1);
    EXPECT_EQ(std::string(buffer), name);
    EXPECT_EQ(buffer[name.size() + 1], '#') << "nothing written past the terminator";
    EXPECT_EQ(controllerName(2), "USB_DEVICE1");
}

TEST(TsapiNames, NumbersOutsideTheTableReadNothing) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "USB_DEVICE1"}));
    ASSERT_EQ(GetExistControllers(), 2);
    char buffer[32];
    for (const std::uint8_t index : {0, 9, 10, 128, 255}) {
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(GetControllerName(index, buffer, sizeof buffer), 0) << int(index);
        EXPECT_EQ(buffer[0], '#') << int(index);
    }
    // Above the count but inside the table: a cleared field, an empty name.
    for (const std::uint8_t index : {3, 8})
        EXPECT_EQ(controllerName(index), "") << int(index);
    EXPECT_EQ(GetControllerName(1, nullptr, 32), 0);
    EXPECT_EQ(GetControllerName(1, buffer, 0), 0);
}

// ---- handles and open counts -----------------------------------------------------------------

TEST(TsapiHandles, NamesGiveHandlesAndOnlyTheRangesAreServed) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "USB_DEVICE1", "RS232_DEVICE12"}));
    Bench bench(withUsb(true));
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_EQ(GetExistControllers(), 3);
    EXPECT_EQ(OpenController(nullptr), -1);
    EXPECT_EQ(OpenController("RS232_DEVICE3"), -1);  // not in the table
    EXPECT_EQ(OpenController("rs232_device0"), -1);  // case matters
    EXPECT_EQ(OpenController("RS232_DEVICE0 "), -1); // whole names only
    EXPECT_EQ(OpenController("RS232_DEVICE0"), 100);
    EXPECT_EQ(OpenController("USB_DEVICE1"), 201);
    // The number is not limited when opening, but no other export takes the handle.
    const std::int32_t h112 = OpenController("RS232_DEVICE12");
    EXPECT_EQ(h112, 112);
    EXPECT_EQ(FlushReadBuffer(h112), 0);
    EXPECT_EQ(ReadLength(h112), 0U);
    EXPECT_EQ(GetDriverInterface(h112), 0);
    EXPECT_EQ(CloseController(h112), 0);
    // The other two are served.
    EXPECT_EQ(FlushReadBuffer(100), 1);
    EXPECT_EQ(FlushReadBuffer(201), 1);
    EXPECT_EQ(CloseController(100), 1);
    EXPECT_EQ(CloseController(201), 1);
}

TEST(TsapiHandles, NoDriverMeansNoHandle) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "USB_DEVICE0"}));
    ASSERT_EQ(GetExistControllers(), 2);
    EXPECT_EQ(OpenController("RS232_DEVICE0"), -1);
    EXPECT_EQ(OpenController("USB_DEVICE0"), -1);
    // Requests on a handle of a device this process has not opened fail.
    EXPECT_EQ(FlushReadBuffer(100), 0);
    EXPECT_EQ(ReadLength(100), 0U);
}

TEST(TsapiHandles, CloseResultsByRange) {
    struct Case {
        std::int32_t handle;
        std::int32_t result;
    };
    for (const Case c : {Case{100, 1}, Case{107, 1}, Case{200, 1}, Case{203, 1}, Case{99, 0},
                         Case{108, 0}, Case{150, 0}, Case{199, 0}, Case{204, 0}, Case{-1, 0},
                         Case{0, 0}, Case{INT32_MIN, 0}, Case{INT32_MAX, 0}})
        EXPECT_EQ(CloseController(c.handle), c.result) << c.handle;
}

TEST(TsapiHandles, TheDeviceStaysOpenWhileAnyOpenIsLeft) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "RS232_DEVICE1"}));
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_EQ(GetExistControllers(), 2);
    ASSERT_EQ(OpenController("RS232_DEVICE0"), 100);
    ASSERT_EQ(OpenController("RS232_DEVICE1"), 101);
    EXPECT_EQ(CloseController(100), 1);
    EXPECT_EQ(FlushReadBuffer(101), 1) << "one open left: the device is still open";
    EXPECT_EQ(CloseController(101), 1);
    EXPECT_EQ(FlushReadBuffer(101), 0) << "the last close closed the device";
    // Open again after the close: a fresh device handle.
    ASSERT_EQ(OpenController("RS232_DEVICE1"), 101);
    EXPECT_EQ(FlushReadBuffer(101), 1);
    EXPECT_EQ(CloseController(101), 1);
}

TEST(TsapiHandles, ClosingTooOftenNeverClosesAnotherOpensDevice) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "RS232_DEVICE1"}));
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_EQ(GetExistControllers(), 2);
    // A close with nothing opened at all changes nothing.
    EXPECT_EQ(CloseController(100), 1);
    ASSERT_EQ(OpenController("RS232_DEVICE0"), 100);
    ASSERT_EQ(OpenController("RS232_DEVICE1"), 101);
    // Controller 0 closed three times for one open: controller 1's open still holds the device.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(CloseController(100), 1);
    EXPECT_EQ(FlushReadBuffer(101), 1);
    EXPECT_EQ(FlushReadBuffer(100), 1) << "the device is shared by the process";
    EXPECT_EQ(CloseController(101), 1);
    EXPECT_EQ(FlushReadBuffer(101), 0);
}

TEST(TsapiHandles, ManyOpensDoNotWrapTheCount) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0"}));
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_EQ(GetExistControllers(), 1);
    constexpr int kOpens = 300; // more than an 8-bit count holds
    for (int i = 0; i < kOpens; ++i)
        ASSERT_EQ(OpenController("RS232_DEVICE0"), 100);
    for (int i = 0; i < kOpens - 1; ++i)
        ASSERT_EQ(CloseController(100), 1);
    EXPECT_EQ(FlushReadBuffer(100), 1) << "one open left";
    EXPECT_EQ(CloseController(100), 1);
    EXPECT_EQ(FlushReadBuffer(100), 0);
}

// ---- raw channel -----------------------------------------------------------------------------

TEST(TsapiRawChannel, FramesOutRepliesBack) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0"); // the driver wrote the marker when it connected
    ASSERT_EQ(c.handle(), 100);
    const std::int32_t h = c.handle();

    EXPECT_EQ(FlushReadBuffer(h), 1);
    EXPECT_EQ(ReadLength(h), 0U);
    const auto oi = frame("OI");
    const std::size_t mark = sim->frameTexts().size();
    EXPECT_EQ(WriteBuffer(h, oi.data(), static_cast<std::uint32_t>(oi.size())), 1);
    ASSERT_TRUE(sim->waitFrame("OI"));
    EXPECT_EQ(framesSince(*sim, mark), std::vector<std::string>{"OI"});

    const std::string identity = "\x01V32110\r";
    ASSERT_TRUE(waitPending(h, static_cast<std::uint32_t>(identity.size())));
    EXPECT_EQ(ReadLength(h), identity.size());
    // A read takes at most the buffer's size and removes what it took.
    std::uint8_t head[3] = {};
    EXPECT_EQ(ReadBuffer(h, head, sizeof head), 3U);
    EXPECT_EQ(std::string(head, head + 3), identity.substr(0, 3));
    EXPECT_EQ(ReadLength(h), identity.size() - 3);
    std::uint8_t rest[64] = {};
    EXPECT_EQ(ReadBuffer(h, rest, sizeof rest), identity.size() - 3);
    EXPECT_EQ(std::string(rest, rest + identity.size() - 3), identity.substr(3));
    EXPECT_EQ(ReadBuffer(h, rest, sizeof rest), 0U);

    // Flush drops a reply that is waiting.
    const auto ut = frame("UT");
    ASSERT_EQ(WriteBuffer(h, ut.data(), static_cast<std::uint32_t>(ut.size())), 1);
    ASSERT_TRUE(waitPending(h, 10));
    EXPECT_EQ(FlushReadBuffer(h), 1);
    EXPECT_EQ(ReadLength(h), 0U);
}

TEST(TsapiRawChannel, RefusedWritesAndReads) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    const std::int32_t h = c.handle();
    const auto oi = frame("OI");
    const std::size_t mark = sim->frameTexts().size();

    EXPECT_EQ(WriteBuffer(h, oi.data(), 0), 0);
    EXPECT_EQ(WriteBuffer(h, nullptr, 4), 0);
    EXPECT_EQ(WriteBuffer(101, oi.data(), 4), 0); // a unit without a controller
    EXPECT_EQ(WriteBuffer(108, oi.data(), 4), 0);
    // The driver takes 3 to 10 bytes; 11 is refused, and so is anything above 255 here.
    std::vector<std::uint8_t> eleven = frame("SP0212349");
    ASSERT_EQ(eleven.size(), 11U);
    EXPECT_EQ(WriteBuffer(h, eleven.data(), 11), 0);
    std::vector<std::uint8_t> big(300, 'A');
    EXPECT_EQ(WriteBuffer(h, big.data(), static_cast<std::uint32_t>(big.size())), 0);
    std::uint8_t buffer[16];
    EXPECT_EQ(ReadBuffer(h, nullptr, 16), 0U);
    EXPECT_EQ(ReadBuffer(h, buffer, 0), 0U);
    EXPECT_EQ(ReadBuffer(99, buffer, sizeof buffer), 0U);
    EXPECT_EQ(ReadLength(-1), 0U);
    EXPECT_EQ(FlushReadBuffer(204), 0);
    // Nothing of it reached the controller.
    clock::sleepFor(std::chrono::milliseconds(100));
    EXPECT_EQ(framesSince(*sim, mark), std::vector<std::string>{});
}

// ---- pen state, touch-report switch, touch-up event ------------------------------------------

TEST(TsapiState, TouchReportSwitch) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    EXPECT_EQ(GetReportStatus(100), 0);
    for (const std::uint8_t off : {1, 2}) {
        EXPECT_EQ(DisableTouchReport(100, off), 1) << int(off);
        EXPECT_EQ(GetReportStatus(100), 1) << int(off);
        EXPECT_EQ(DisableTouchReport(100, 0), 1);
        EXPECT_EQ(GetReportStatus(100), 0);
    }
    // Switched off, a tap gives no pointer record; switched on again, it does.
    ASSERT_EQ(DisableTouchReport(100, 1), 1);
    ASSERT_TRUE(sim->play({"tap 50% 50% 3"}));
    clock::sleepFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(bench.serialDaemon()->records().empty());
    ASSERT_EQ(DisableTouchReport(100, 7), 1); // any other value switches it on
    EXPECT_EQ(GetReportStatus(100), 0);
    ASSERT_TRUE(sim->play({"tap 50% 50% 3"}));
    EXPECT_FALSE(bench.serialDaemon()->waitRecords(1).empty());
    // Invalid handles.
    EXPECT_EQ(DisableTouchReport(108, 1), 0);
    EXPECT_EQ(GetReportStatus(108), 0);
}

TEST(TsapiState, PenUpAfterACapturedTouch) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    EXPECT_EQ(IsPenUp(100), 0); // no capture has seen a pen lifted yet
    Client client;
    ASSERT_TRUE(client.ok());
    ASSERT_EQ(client.ioctl(kSetThreePointCapture, {0, 0}, 1).reply, std::vector<std::uint8_t>{1});
    ASSERT_TRUE(sim->play({"tap 25% 25% 25"})); // a capture takes 20 samples
    EXPECT_TRUE(waitUntil([] { return IsPenUp(100) == 1; }));
    EXPECT_EQ(IsPenUp(101), 0); // nothing connected there
    EXPECT_EQ(IsPenUp(300), 0);
}

TEST(TsapiState, TouchUpEventRegistration) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    const auto asPointer = [](std::intptr_t v) { return reinterpret_cast<void*>(v); };

    UniqueFd event(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    ASSERT_TRUE(event);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    UniqueFd pipeRead(pipeFds[0]), pipeWrite(pipeFds[1]);

    EXPECT_EQ(SetUpEventHandle(asPointer(108), asPointer(event.get())), 0);
    EXPECT_EQ(SetUpEventHandle(asPointer(100), asPointer(pipeRead.get())), 0) << "not an event";
    EXPECT_EQ(SetUpEventHandle(asPointer(100), asPointer(event.get())), 1);
    EXPECT_EQ(SetUpEventHandle(asPointer(100), asPointer(event.get())), 0)
        << "the driver takes one touch-up event per controller";

    // The driver sets the touch-up event of a controller whose touch-up sound is on.
    Client client;
    ASSERT_TRUE(client.ok());
    ASSERT_EQ(client.ioctl(kSetUpSound, {0, 1}, 1).reply, std::vector<std::uint8_t>{1});
    ASSERT_TRUE(sim->play({"tap 50% 50% 3"}));
    pollfd p{event.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 20000), 1) << "the touch-up event is set";
}

// ---- COM port --------------------------------------------------------------------------------

TEST(TsapiComPort, CurrentAndChangedPort) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* first = bench.addSerial(0, 1);
    ASSERT_NE(first, nullptr);
    Sim* second = bench.addSerial(1, 4, Sim::defaultProfile(), /*connect=*/false);
    ASSERT_NE(second, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    EXPECT_EQ(CurrentCOMPort(100), 1);
    EXPECT_EQ(CurrentCOMPort(101), 0) << "unit 1 has no port yet";
    // Handles are numbers: unit 1 is reachable through the device this process opened.
    EXPECT_EQ(ChangeCOMPort(101, 4, 9600), 1);
    EXPECT_EQ(CurrentCOMPort(101), 4);
    EXPECT_TRUE(second->waitFrame("GP9E")) << "the driver connected and greeted COM4";
    EXPECT_EQ(ChangeCOMPort(101, 0, 9600), 0) << "no COM0";
    EXPECT_EQ(CurrentCOMPort(101), 4);
    EXPECT_EQ(ChangeCOMPort(108, 1, 9600), 0);
    EXPECT_EQ(CurrentCOMPort(108), 0);
}

TEST(TsapiComPort, UsbHandlesHaveNoComPort) {
    Bench bench(withUsb(false));
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addUsb(1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("USB_DEVICE1");
    ASSERT_EQ(c.handle(), 201);
    const std::size_t mark = sim->frameTexts().size();
    EXPECT_EQ(CurrentCOMPort(201), 0);
    EXPECT_EQ(ChangeCOMPort(201, 1, 9600), 0);
    EXPECT_EQ(CloseCOMPort(201), 0);
    EXPECT_EQ(ReopenCOMPort(201), 0);
    char text[16] = {};
    EXPECT_EQ(GetDriverPort(201, text, sizeof text), 0);
    clock::sleepFor(std::chrono::milliseconds(100));
    EXPECT_EQ(framesSince(*sim, mark), std::vector<std::string>{}) << "no \"MI\" sent";
    // The raw channel serves USB controllers the same way. (The end of what was read is
    // judged: a late answer to the driver's own greeting may sit in front.)
    const auto ut = frame("UT");
    EXPECT_EQ(FlushReadBuffer(201), 1);
    EXPECT_EQ(WriteBuffer(201, ut.data(), static_cast<std::uint32_t>(ut.size())), 1);
    ASSERT_TRUE(sim->waitFrame("UT"));
    const std::string unitType = "\x01NVLT3000\r";
    std::string got;
    EXPECT_TRUE(waitUntil([&] {
        std::uint8_t reply[64] = {};
        const std::uint32_t n = ReadBuffer(201, reply, sizeof reply);
        got.append(reply, reply + n);
        return got.size() >= unitType.size() &&
               got.compare(got.size() - unitType.size(), unitType.size(), unitType) == 0;
    })) << got;
}

TEST(TsapiComPort, CloseSilencesThenLetsGoAndReopenComesBack) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 2);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    const std::size_t mark = sim->frameTexts().size();
    EXPECT_EQ(CloseCOMPort(100), 1);
    EXPECT_TRUE(sameExchanges(framesSince(*sim, mark), {"MI"}, 3));
    // The port is closed: nothing can be written to the controller.
    const auto oi = frame("OI");
    EXPECT_EQ(WriteBuffer(100, oi.data(), static_cast<std::uint32_t>(oi.size())), 0);
    EXPECT_EQ(CurrentCOMPort(100), 2) << "the driver keeps the port number for the reopen";

    // The port comes back first, then the report mode undoes the "MI": the controller
    // reports again.
    const std::size_t reopenMark = sim->frameTexts().size();
    EXPECT_EQ(ReopenCOMPort(100), 1);
    const auto frames = framesSince(*sim, reopenMark);
    ASSERT_GE(frames.size(), 5U);
    EXPECT_EQ(std::vector<std::string>(frames.begin(), frames.begin() + 3),
              (std::vector<std::string>{"Z", "Uu", "GP9E"}))
        << "the reconnect's greeting";
    EXPECT_TRUE(sameExchanges({frames.begin() + 3, frames.end()}, {"MS", "PL"}));
    const std::size_t records = bench.serialDaemon()->records().size();
    ASSERT_TRUE(sim->play({"tap 50% 50% 1"}));
    EXPECT_GE(bench.serialDaemon()->waitRecords(records + 2).size(), records + 2);
    EXPECT_EQ(WriteBuffer(100, oi.data(), static_cast<std::uint32_t>(oi.size())), 1);
    EXPECT_TRUE(sim->waitFrame("OI"));
}

TEST(TsapiComPort, ReopenSendsTheReportModeAgain) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    Client client;
    ASSERT_TRUE(client.ok());
    struct Case {
        std::uint8_t mode;
        const char* command;
    };
    for (const Case m : {Case{3, "MP"}, Case{1, "MS"}, Case{2, "MS"}}) {
        ASSERT_TRUE(client.setReportMode(0, m.mode));
        const std::size_t mark = sim->frameTexts().size();
        EXPECT_EQ(ReopenCOMPort(100), 1) << int(m.mode);
        EXPECT_TRUE(sameExchanges(framesSince(*sim, mark), {m.command, "PL"})) << int(m.mode);
    }
}

TEST(TsapiComPort, CloseGivesUpOnASilentControllerAndKeepsThePort) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(0, 1);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE0");
    ASSERT_EQ(c.handle(), 100);
    ASSERT_TRUE(sim->play({"fault silence"}));
    const std::size_t mark = sim->frameTexts().size();
    EXPECT_EQ(CloseCOMPort(100), 0);
    EXPECT_EQ(framesSince(*sim, mark), (std::vector<std::string>{"MI", "MI", "MI"}));
    EXPECT_EQ(CurrentCOMPort(100), 1);
    // A refusal (SOH '1' CR) is no acknowledgement either.
    ASSERT_TRUE(sim->play({"fault clear", "fault nak"}));
    EXPECT_EQ(CloseCOMPort(100), 0);
    EXPECT_EQ(CurrentCOMPort(100), 1);
}

// ---- driver information ----------------------------------------------------------------------

TEST(TsapiDriverInfo, InterfaceByHandleRange) {
    struct Case {
        std::int32_t handle;
        std::int32_t kind;
    };
    for (const Case c : {Case{100, 1}, Case{107, 1}, Case{200, 2}, Case{203, 2}, Case{108, 0},
                         Case{204, 0}, Case{99, 0}, Case{199, 0}, Case{-1, 0}, Case{0, 0}})
        EXPECT_EQ(GetDriverInterface(c.handle), c.kind) << c.handle;
}

TEST(TsapiDriverInfo, VersionOfTheInstalledDriver) {
    const auto note = desktop::readFileVersion(program("KvrRs232"));
    ASSERT_TRUE(note.has_value()) << "the driver carries its version note";
    const std::string expected = *note;
    char buffer[32];
    for (const std::int32_t handle : {100, 107, 200, 203}) {
        std::memset(buffer, 0, sizeof buffer);
        EXPECT_EQ(GetDriverVersion(handle, buffer, sizeof buffer), 1) << handle;
        EXPECT_EQ(std::string(buffer), expected) << handle;
    }
    // Exactly as long as the text: the characters, no terminator.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetDriverVersion(100, buffer, static_cast<std::uint8_t>(expected.size())), 1);
    EXPECT_EQ(std::string(buffer, expected.size()), expected);
    EXPECT_EQ(buffer[expected.size()], '#');
    // One shorter: refused, buffer untouched.
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetDriverVersion(100, buffer, static_cast<std::uint8_t>(expected.size() - 1)), 0);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetDriverVersion(100, nullptr, 32), 0);
    EXPECT_EQ(GetDriverVersion(108, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '#');
}

TEST(TsapiDriverInfo, PortText) {
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    Sim* sim = bench.addSerial(2, 7);
    ASSERT_NE(sim, nullptr);
    OpenedController c("RS232_DEVICE2");
    ASSERT_EQ(c.handle(), 102);
    char buffer[16];
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(GetDriverPort(102, buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer), "COM7");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetDriverPort(102, buffer, 4), 1);
    EXPECT_EQ(std::string(buffer, 5), "COM7#");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(GetDriverPort(102, buffer, 3), 0);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(GetDriverPort(102, nullptr, 16), 0);
    EXPECT_EQ(GetDriverPort(103, buffer, sizeof buffer), 0) << "unit 3 has no port";
    EXPECT_EQ(GetDriverPort(108, buffer, sizeof buffer), 0);
}

// ---- no argument crashes anything ------------------------------------------------------------

TEST(TsapiRobustness, EveryExportSurvivesBadArguments) {
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0", "USB_DEVICE1"}));
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    ASSERT_EQ(GetExistControllers(), 2);
    ASSERT_EQ(OpenController("RS232_DEVICE0"), 100);
    const std::int32_t handles[] = {INT32_MIN, -1,  0,   99,  100, 101,
                                    107,       108, 200, 203, 204, INT32_MAX};
    for (const std::int32_t h : handles) {
        EXPECT_GE(WriteBuffer(h, nullptr, 0xFFFFFFFF), 0);
        EXPECT_EQ(ReadBuffer(h, nullptr, 0xFFFFFFFF), 0U);
        ReadLength(h);
        FlushReadBuffer(h);
        IsPenUp(h);
        DisableTouchReport(h, 0xFF);
        GetReportStatus(h);
        CurrentCOMPort(h);
        ChangeCOMPort(h, 0xFFFFFFFF, 0xFFFFFFFF);
        EXPECT_EQ(GetDriverVersion(h, nullptr, 255), 0);
        EXPECT_EQ(GetDriverPort(h, nullptr, 255), 0);
        SetUpEventHandle(reinterpret_cast<void*>(static_cast<std::intptr_t>(h)),
                         reinterpret_cast<void*>(static_cast<std::intptr_t>(-5)));
    }
    SetUpEventHandle(reinterpret_cast<void*>(~std::uintptr_t{0} - 99), nullptr);
    std::vector<std::uint8_t> large(100000);
    EXPECT_EQ(ReadBuffer(100, large.data(), static_cast<std::uint32_t>(large.size())), 0U);
    EXPECT_EQ(CloseController(100), 1);
}

} // namespace
} // namespace kvr::test::tsapi
