// Display table, partitions and touch-to-assign. The display layouts come from KVR_DISPLAYS;
// the requests the library sends are recorded by a stand-in control device, and the driver
// daemon with an emulated controller shows the assignment and the layout taking effect.

#include "platform/ipc/control_codes.h"
#include "platform/ipc/control_device.h"
#include "platform/registry/registry.h"
#include "tests/integration/tsapi/tsapi_harness.h"
#include "tests/support/test_env.h"
#include "tsapi/tsapi.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kvr::test::tsapi {
namespace {

constexpr const char* kAppKey = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\KvrApp";
constexpr std::uint32_t kSetDisplayPartition = 0x220090;
constexpr std::uint32_t kArmTouchSearch = 0x220088;

struct Area {
    std::uint32_t code;
    std::vector<std::uint32_t> fields; // the entry byte, then the four 32-bit fields
    bool operator==(const Area&) const = default;
};

// A serial control device that acknowledges every request and records it.
class RecordingDevice {
public:
    RecordingDevice() {
        std::string error;
        server_ = ipc::ControlServer::start(
            "KvrRs232D",
            [this](ipc::Request& r) {
                std::lock_guard lock(mutex_);
                Area a{r.code, {}};
                if (r.inLength >= 1) a.fields.push_back(r.buffer[0]);
                for (std::size_t at = 1; at + 4 <= r.inLength; at += 4)
                    a.fields.push_back(static_cast<std::uint32_t>(
                        r.buffer[at] | r.buffer[at + 1] << 8 | r.buffer[at + 2] << 16 |
                        static_cast<std::uint32_t>(r.buffer[at + 3]) << 24));
                seen_.push_back(a);
                r.buffer[0] = refuse ? 0 : 1;
                return ipc::Reply{0, 1};
            },
            "", error);
    }
    [[nodiscard]] bool ok() const { return server_ != nullptr; }
    std::atomic<bool> refuse{false}; // answer 0 instead of 1
    std::vector<Area> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(seen_, {});
    }

private:
    std::mutex mutex_;
    std::vector<Area> seen_;
    std::unique_ptr<ipc::ControlServer> server_;
};

void setDisplays(const char* layout) {
    ::setenv("KVR_DISPLAYS", layout, 1);
}

bool setPartition(std::uint32_t display, std::uint32_t parts, std::uint32_t type) {
    return reg::createKey(kAppKey) == reg::Status::Ok &&
           reg::setDword(kAppKey, "PartitionDisplay", display) == reg::Status::Ok &&
           reg::setDword(kAppKey, "Partitions", parts) == reg::Status::Ok &&
           reg::setDword(kAppKey, "PartitionType", type) == reg::Status::Ok;
}

struct Entry {
    std::string name;
    std::int32_t rect[4];
};

std::vector<Entry> table() {
    std::vector<Entry> out;
    for (int n = 1; n <= 9; ++n) {
        char name[32] = {};
        if (!GetDisplayName(static_cast<std::uint8_t>(n), name, sizeof name)) break;
        Entry e{name, {}};
        EXPECT_EQ(GetDisplayArea(name, e.rect), 1) << name;
        out.push_back(e);
    }
    return out;
}

struct LayoutCase {
    const char* what;
    const char* displays;
    std::uint32_t partitionDisplay, parts, type; // 0 parts: no partition settings
    std::vector<Entry> entries;
    std::vector<Area> requests;
};

TEST(DisplayTable, LayoutsGiveTheirEntriesAndExactRequests) {
    constexpr auto A = kSetDisplayPartition; // one display-area request
    // clang-format off
    const std::vector<LayoutCase> cases = {
        {"two monitors", "\\\\.\\DISPLAY1:0,0,1280,1024;\\\\.\\DISPLAY2:1280,0,2304,768", 0, 0, 0,
         {{"DISPLAY1", {0, 0, 1280, 1024}}, {"DISPLAY2", {1280, 0, 2304, 768}}},
         {{A, {1, 0, 0, 65483, 65471}}, {A, {2, 65535, 0, 52376, 49087}}}},
        {"one display", "DISPLAY:0,0,1024,768", 0, 0, 0,
         {{"DISPLAY", {0, 0, 1024, 768}}},
         {{A, {1, 0, 0, 65471, 65449}}}},
        {"two columns", "DISPLAY:0,0,1024,768", 1, 2, 1,
         {{"Display1-1", {0, 0, 512, 768}}, {"Display1-2", {512, 0, 1024, 768}}},
         {{A, {1, 0, 0, 32703, 65449}}, {A, {2, 32767, 0, 32703, 65449}}}},
        {"quarters", "DISPLAY:0,0,1024,768", 1, 4, 3,
         {{"Display1-1", {0, 0, 512, 384}}, {"Display1-2", {512, 0, 1024, 384}},
          {"Display1-3", {0, 384, 512, 768}}, {"Display1-4", {512, 384, 1024, 768}}},
         {{A, {1, 0, 0, 32703, 32682}}, {A, {2, 32767, 0, 32703, 32682}},
          {A, {3, 0, 32767, 32703, 32682}}, {A, {4, 32767, 32767, 32703, 32682}}}},
        {"partition of a display that is not there", "DISPLAY:0,0,1024,768", 2, 2, 1,
         {{"DISPLAY", {0, 0, 1024, 768}}},
         {{A, {1, 0, 0, 65471, 65449}}}},
        {"no monitor at the origin", "A:100,50,1124,818", 0, 0, 0,
         {{"A", {100, 50, 1124, 818}}},
         {{A, {1, 6399, 4266, 65471, 65449}}}},
        {"a monitor far right (past 32-bit products)", "A:0,0,1000,1000;B:40000,0,41000,1000", 0, 0, 0,
         {{"A", {0, 0, 1000, 1000}}, {"B", {40000, 0, 41000, 1000}}},
         {{A, {1, 0, 0, 65469, 65469}}, {A, {2, 2621400, 0, 65469, 65469}}}},
    };
    // clang-format on
    RecordingDevice device;
    ASSERT_TRUE(device.ok());
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0"}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setDisplays(c.displays);
        if (c.parts)
            ASSERT_TRUE(setPartition(c.partitionDisplay, c.parts, c.type));
        else
            reg::deleteKey(kAppKey);
        ASSERT_EQ(GetExistDisplays(), c.entries.size());
        const auto entries = table();
        ASSERT_EQ(entries.size(), c.entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].name, c.entries[i].name);
            EXPECT_EQ(std::vector(entries[i].rect, entries[i].rect + 4),
                      std::vector(c.entries[i].rect, c.entries[i].rect + 4))
                << entries[i].name;
        }
        EXPECT_EQ(device.take(), c.requests);
    }
    // A driver that refuses an entry: 0, and the entries after it are not sent.
    device.refuse = true;
    setDisplays("A:0,0,1000,1000;B:1000,0,2000,1000");
    EXPECT_EQ(GetExistDisplays(), 0);
    EXPECT_EQ(device.take().size(), 1U);
}

TEST(DisplayTable, NamesAndAreasStayInsideTheTable) {
    setDisplays("DISPLAY1:0,0,1024,768");
    ASSERT_EQ(GetExistDisplays(), 1); // no controller listed: built, nothing sent
    char name[16] = "untouched";
    EXPECT_EQ(GetDisplayName(0, name, sizeof name), 0);
    EXPECT_EQ(GetDisplayName(2, name, sizeof name), 0);
    EXPECT_EQ(GetDisplayName(255, name, sizeof name), 0);
    EXPECT_EQ(GetDisplayName(1, name, 8), 0); // "DISPLAY1" and its zero need 9
    EXPECT_STREQ(name, "untouched");
    EXPECT_EQ(GetDisplayName(1, nullptr, 9), 0);
    ASSERT_EQ(GetDisplayName(1, name, 9), 1);
    EXPECT_STREQ(name, "DISPLAY1");
    std::int32_t rect[4] = {};
    EXPECT_EQ(GetDisplayArea("display1", rect), 0); // case matters
    EXPECT_EQ(GetDisplayArea(nullptr, rect), 0);
    EXPECT_EQ(GetDisplayArea("DISPLAY1", nullptr), 0);

    // At most nine entries; a name longer than its field is cut, never left unterminated.
    std::string many = "ABCDEFGHIJKLMNOPQRSTUVWXYZ:0,0,100,100";
    for (int i = 1; i < 10; ++i)
        many += ";M" + std::to_string(i) + ":" + std::to_string(100 * i) + ",0," +
                std::to_string(100 * i + 100) + ",100";
    setDisplays(many.c_str());
    ASSERT_EQ(GetExistDisplays(), 9);
    char wide[64] = {};
    ASSERT_EQ(GetDisplayName(1, wide, sizeof wide), 1);
    EXPECT_STREQ(wide, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(GetDisplayName(10, wide, sizeof wide), 0);

    setDisplays("none");
    EXPECT_EQ(GetExistDisplays(), 0);
    EXPECT_EQ(GetDisplayName(1, name, sizeof name), 0);
}

TEST(DisplayTable, PartitionSettingsAndDisplayChange) {
    setDisplays("DISPLAY1:0,0,1024,768");
    EXPECT_EQ(PartitionDisplay(1, 1, 2), 0) << "no application key yet";
    EXPECT_EQ(GetPartitioned_Display(), 0);
    EXPECT_EQ(GetDisplayChange(), 0);
    ASSERT_EQ(SetDisplayChange(1), 1); // creates the key
    EXPECT_EQ(GetDisplayChange(), 1);
    ASSERT_EQ(SetDisplayChange(5), 1);
    EXPECT_EQ(GetDisplayChange(), 0);

    EXPECT_EQ(PartitionDisplay(1, 4, 2), 0);
    EXPECT_EQ(PartitionDisplay(1, 1, 5), 0);
    EXPECT_EQ(PartitionDisplay(2, 1, 2), 0); // only one display
    ASSERT_EQ(PartitionDisplay(1, 2, 3), 1);
    EXPECT_EQ(GetPartitioned_Display(), 1);
    EXPECT_EQ(GetPartition_Mode(), 2);
    EXPECT_EQ(GetPartition_Parts(), 3);
    char name[16] = {};
    ASSERT_EQ(GetDisplayName(3, name, sizeof name), 1) << "the table follows at once";
    EXPECT_STREQ(name, "Display1-3");
    ASSERT_EQ(reg::setDword(kAppKey, "Partitions", 7), reg::Status::Ok);
    EXPECT_EQ(GetPartition_Parts(), 0);
    ASSERT_EQ(PartitionDisplay(0, 0, 0), 1); // stored, and partitioning is off
    EXPECT_EQ(GetExistDisplays(), 1);
}

TEST(DisplayTable, MultiMonitorRequestsFillEveryField) {
    RecordingDevice device;
    ASSERT_TRUE(device.ok());
    ASSERT_TRUE(writeMarkers({"RS232_DEVICE0"}));
    setDisplays("A:0,0,1000,1000;B:1000,0,2000,1000");
    ASSERT_EQ(AskToSetMultiMonitor(1, 1), 1);
    const std::vector<Area> expected = {
        // The table as GetExistDisplays sends it...
        {kSetDisplayPartition, {1, 0, 0, 65469, 65469}},
        {kSetDisplayPartition, {2, 65535, 0, 65469, 65469}},
        // ...then one cell per entry of the side-by-side arrangement, as the driver lays them
        // out at connect, then the search.
        {kSetDisplayPartition, {1, 0, 0, 65535, 65535}},
        {kSetDisplayPartition, {2, 65535, 0, 65535, 65535}},
        {kArmTouchSearch, {5}},
    };
    EXPECT_EQ(device.take(), expected);
    // Stacked and two by two: the second row starts one pointer span down.
    setDisplays("A:0,0,10,10;B:10,0,20,10;C:0,10,10,20");
    ASSERT_EQ(AskToSetMultiMonitor(2, 0), 1);
    auto cells = device.take();
    ASSERT_EQ(cells.size(), 7U);
    EXPECT_EQ(cells[4], (Area{kSetDisplayPartition, {2, 0, 65535, 65535, 65535}}));
    EXPECT_EQ(cells[5], (Area{kSetDisplayPartition, {3, 0, 131070, 65535, 65535}}));
    ASSERT_EQ(AskToSetMultiMonitor(3, 0), 1);
    cells = device.take();
    ASSERT_EQ(cells.size(), 7U);
    EXPECT_EQ(cells[4], (Area{kSetDisplayPartition, {2, 65535, 0, 65535, 65535}}));
    EXPECT_EQ(cells[5], (Area{kSetDisplayPartition, {3, 0, 65535, 65535, 65535}}));

    EXPECT_EQ(AskToSetDisplayNumber(8), 0);
    EXPECT_TRUE(device.take().empty());
    ASSERT_EQ(AskToSetDisplayNumber(5), 1);
    EXPECT_EQ(device.take(), (std::vector<Area>{{kArmTouchSearch, {1}}}));
}

TEST(DisplayTable, NoControllerListed) {
    ASSERT_TRUE(clearMarkers());
    ASSERT_EQ(GetExistControllers(), 0);
    setDisplays("DISPLAY:0,0,800,600");
    EXPECT_EQ(AskToSetDisplayNumber(0), 1);
    EXPECT_EQ(QueryDisplayBeTouched(), 0);
    EXPECT_EQ(AskToSetMultiMonitor(2, 0), 1);
    EXPECT_EQ(QueryMultiMonitorSetOK(), 0);
    for (const std::int32_t handle : {-1, 99, 108, 204})
        EXPECT_EQ(GetDisplayNumber(handle) | GetMultiMonitorNumber(handle) |
                      GetMultiMonitorLayout(handle),
                  0);
}

// ---- with the driver daemon ------------------------------------------------------------------

// The pointer X of calibrated X 124 (a tap at M 512, raw 128) in a partition entry.
std::int32_t pointerX(std::int32_t originX, std::int32_t extentX) {
    return extentX * 124 / 4095 + originX;
}

// The frames from `from` on without the report-mode commands that the driver sends by itself
// whenever the controller announces a restart (after each read-back of the assignment).
std::vector<std::string> commandsSince(const Sim& sim, std::size_t from) {
    std::vector<std::string> out;
    for (auto& f : framesSince(sim, from))
        if (f != "MS" && f != "MP") out.push_back(f);
    return out;
}

TEST(DisplayAssign, TouchedControllerGetsTheDisplayAndTheDriverItsLayout) {
    setDisplays("\\\\.\\DISPLAY1:0,0,1280,1024;\\\\.\\DISPLAY2:1280,0,2304,768");
    Bench bench;
    ASSERT_TRUE(bench.ready()) << bench.diagnostics();
    auto profile = Sim::defaultProfile();
    profile.defaults[0x9E] = 0x00A5; // the low byte (wiring code) must survive
    Sim* sim = bench.addSerial(0, 1, profile);
    ASSERT_NE(sim, nullptr);
    Daemon& daemon = *bench.serialDaemon();
    ASSERT_EQ(GetExistDisplays(), 2);

    ASSERT_EQ(AskToSetDisplayNumber(1), 1);
    EXPECT_EQ(QueryDisplayBeTouched(), 0) << "nothing touched yet";
    const std::size_t from = sim->frameTexts().size();
    const std::size_t modeCommands = countFrames(*sim, "MS");
    ASSERT_TRUE(sim->play({"tap 512 512 1"}));
    ASSERT_TRUE(waitUntil([] { return QueryDisplayBeTouched() == 1; }));
    // The read-back restarts the controller; let the driver finish greeting it again.
    ASSERT_TRUE(sim->waitFrame("MS", modeCommands + 1));
    // The driver reads the new assignment back (R, GP9E) before the query returns.
    EXPECT_TRUE(sameExchanges(commandsSince(*sim, from), {"GP9E", "SP9E01A5", "R", "GP9E"}));
    EXPECT_EQ(sim->pty().inspect([](const emu::Controller& c) { return c.word(0x9E); }), 0x01A5);

    // These reads make one attempt each: a reply that comes late (a loaded machine) gives 0,
    // and the caller asks again.
    OpenedController controller("RS232_DEVICE0");
    ASSERT_TRUE(controller.ok());
    const std::int32_t h = controller.handle();
    EXPECT_TRUE(waitUntil([h] { return GetDisplayNumber(h) == 1; }));
    EXPECT_TRUE(waitUntil([h] { return GetMultiMonitorNumber(h) == 1; }));
    EXPECT_EQ(GetMultiMonitorLayout(h), 0);

    // The next touch lands in entry 2: origin 65535, extent 52376. The driver's read-back
    // also makes one attempt: when its reply came late, it is asked to read again.
    const auto tapLandsAt = [&](std::int32_t x) {
        const std::size_t seen = daemon.records().size();
        const auto records = sim->play({"tap 512 512 1"}) ? daemon.waitRecords(seen + 2)
                                                          : std::vector<driver::TraceRecord>{};
        if (records.size() >= seen + 2 && records[seen].x == x) return true;
        Client().ioctl(kvr::control::IOCTL_RS232_READ_DISPLAY_NUMBER, {0}, 0);
        return false;
    };
    EXPECT_TRUE(waitUntil([&] { return tapLandsAt(pointerX(65535, 52376)); }));

    // The arrangement pair: side by side, display index 1.
    ASSERT_EQ(AskToSetMultiMonitor(1, 1), 1);
    const std::size_t from2 = sim->frameTexts().size();
    ASSERT_TRUE(sim->play({"tap 512 512 1"}));
    ASSERT_TRUE(waitUntil([] { return QueryMultiMonitorSetOK() == 1; }));
    EXPECT_TRUE(sameExchanges(commandsSince(*sim, from2), {"Z", "GP9E", "SP9E05A5", "R", "GP9E"}));
    EXPECT_TRUE(waitUntil([h] { return GetMultiMonitorLayout(h) == 1; }));
    EXPECT_TRUE(waitUntil([h] { return GetDisplayNumber(h) == 1; }));

    // The layout the pair left in the driver keeps a mid-screen tap on its display: entry 2
    // is the second cell of the row, x in 65535..131070 and y in 0..65535.
    const std::size_t before = daemon.records().size();
    ASSERT_TRUE(sim->play({"tap 50% 50% 1"}));
    const auto taps = daemon.waitRecords(before + 2);
    ASSERT_GE(taps.size(), before + 2);
    for (std::size_t i = before; i < taps.size(); ++i) {
        EXPECT_GT(taps[i].x, 65535 + 16384) << i;
        EXPECT_LT(taps[i].x, 131070 - 16384) << i;
        EXPECT_GT(taps[i].y, 16384) << i;
        EXPECT_LT(taps[i].y, 65535 - 16384) << i;
    }
}

} // namespace
} // namespace kvr::test::tsapi
