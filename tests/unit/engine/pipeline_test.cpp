// Coordinate pipeline: calibration, edge expansion, rotation, Y inversion, partitions,
// reports switched off, touched-controller search and display layout.
#include "tests/unit/engine/engine_fixture.h"

namespace kvr::engine::test {
namespace {

using Pipeline = EngineFixture;

CalibrationSet Set(int c1x, int c1y, int c2x, int c2y, int c3x, int c3y, int bpx, int bpy) {
    CalibrationSet s;
    s.CP1X = c1x;
    s.CP1Y = c1y;
    s.CP2X = c2x;
    s.CP2Y = c2y;
    s.CP3X = c3x;
    s.CP3Y = c3y;
    s.BPX = bpx;
    s.BPY = bpy;
    return s;
}

TEST(Calibration, DefaultSetMapsTargets) {
    struct Case {
        int rawX, rawY, x, y;
    };
    const Case cases[] = {
        {3968, 128, 3968, 128},   {128, 128, 124, 128}, {3968, 3968, 3968, 3964},
        {2048, 2048, 2048, 2044}, {0, 0, -4, 4},        {4095, 4095, 4092, 4084},
    };
    const CalibrationSet defaults;
    for (const auto& c : cases) {
        const ScreenPoint p = Do3PCalibration(defaults, c.rawX, c.rawY);
        EXPECT_EQ(p.x, c.x) << c.rawX << "," << c.rawY;
        EXPECT_EQ(p.y, c.y) << c.rawX << "," << c.rawY;
    }
}

TEST(Calibration, TargetsMapToBasePointAndItsMirrors) {
    // Base point (400, 500): q = (100, 125); target 1 lies at X = (1023 - 100) * 4,
    // target 2 at Y = (1023 - 125) * 4.
    const CalibrationSet s = Set(200, 300, 3900, 3800, 3800, 250, 400, 500);
    ASSERT_TRUE(CalibrationUsable(s));
    struct Case {
        const char* name;
        int rawX, rawY, x, y;
    };
    const Case cases[] = {
        {"target 3", 3800, 250, 400, 500},
        {"target 1", 200, 300, 3692, 500},
        {"target 2", 3900, 3800, 400, 3592},
    };
    for (const auto& c : cases) {
        const ScreenPoint p = Do3PCalibration(s, c.rawX, c.rawY);
        EXPECT_EQ(p.x, c.x) << c.name;
        EXPECT_EQ(p.y, c.y) << c.name;
    }
}

TEST(Calibration, TruncatingDivisionTowardZero) {
    // (0, 0) with the defaults: X' = 915179520 / -921600 = -993.03 -> -993 (not -994).
    EXPECT_EQ(Do3PCalibration(CalibrationSet{}, 0, 0).x, -4);
    // Negative raw values shift arithmetically: q(-1) = -1.
    EXPECT_EQ(Do3PCalibration(CalibrationSet{}, -1, 128).x,
              Do3PCalibration(CalibrationSet{}, -4, 128).x);
}

TEST(Calibration, UnusableSetsNeverDivideAndFallBackToDefaults) {
    struct Case {
        const char* name;
        CalibrationSet set;
        bool fullDetZero;
    };
    const Case cases[] = {
        {"all targets on one vertical line", Set(128, 128, 128, 3968, 128, 500, 3968, 128), true},
        {"targets within 4 raw units (quarter det 0)",
         Set(3969, 129, 3970, 131, 3968, 128, 3968, 128), false},
        {"all zero", Set(0, 0, 0, 0, 0, 0, 0, 0), true},
        {"collinear diagonal", Set(100, 100, 2000, 2000, 4000, 4000, 3968, 128), true},
        {"base point out of range", Set(128, 128, 3968, 3968, 3968, 128, 0x7FFFFFFF, 128), false},
        {"negative target", Set(-5, 128, 3968, 3968, 3968, 128, 3968, 128), false},
        {"huge targets", Set(0x40000000, 7, -0x40000000, 9, 1, 0x7FFFFFFF, 3968, 128), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(CalibrationUsable(c.set));
        EXPECT_EQ(FullDeterminantIsZero(c.set), c.fullDetZero);
        for (auto [x, y] : {std::pair{0, 0}, {2048, 2048}, {4095, 4095}, {128, 3968}}) {
            const ScreenPoint got = Do3PCalibration(c.set, x, y);
            const ScreenPoint want = Do3PCalibration(CalibrationSet{}, x, y);
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
        }
    }
    EXPECT_TRUE(CalibrationUsable(CalibrationSet{}));
    EXPECT_FALSE(FullDeterminantIsZero(CalibrationSet{}));
}

TEST_F(Pipeline, DegenerateStoredSetStillReportsThroughDefaults) {
    StoreCalibration(dev, Set(128, 128, 128, 3968, 128, 500, 3968, 128));
    feed(MRaw(2048, 2048, true));
    ASSERT_EQ(rec.deliveries().size(), 1u);
    EXPECT_EQ(rec.deliveries()[0].x, 65535 * 2048 / 4095);
    EXPECT_EQ(rec.deliveries()[0].y, 65535 * 2044 / 4095);
}

TEST_F(Pipeline, EdgeExpansionThresholds) {
    struct Case {
        const char* name;
        std::uint16_t up, down, left, right;
        std::int64_t x, y, outX, outY;
    };
    const Case cases[] = {
        {"4096 past right 4095", 0, 4095, 0, 4095, 4096, 10, 4095, 10},
        {"-3 before left 0", 0, 4095, 0, 4095, -3, 10, 0, 10},
        {"left 100: 99 snaps", 0, 4095, 100, 4095, 99, 10, 0, 10},
        {"left 100: 100 stays", 0, 4095, 100, 4095, 100, 10, 100, 10},
        {"right 4000: 4001 snaps", 0, 4095, 0, 4000, 4001, 10, 4095, 10},
        {"right 4000: 4000 stays", 0, 4095, 0, 4000, 4000, 10, 4000, 10},
        {"up 50: 49 snaps, down 4000: 4001 snaps", 50, 4000, 0, 4095, 10, 49, 10, 0},
        {"down 4000: 4001 snaps", 50, 4000, 0, 4095, 10, 4001, 10, 4095},
        {"up 50: 50 stays", 50, 4000, 0, 4095, 10, 50, 10, 50},
        {"beyond 4095 without a crossed threshold stays", 0, 65535, 0, 65535, 5000, 6000, 5000,
         6000},
        {"right then left: left above 4095 wins", 0, 4095, 5000, 100, 200, 10, 0, 10},
        {"thresholds compared unsigned", 0xFFFF, 4095, 0, 4095, 10, 60000, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dev.ExpandUp = c.up;
        dev.ExpandDown = c.down;
        dev.ExpandLeft = c.left;
        dev.ExpandRight = c.right;
        const Coord12 out = ExpandEdges(dev, Coord12{c.x, c.y});
        EXPECT_EQ(out.x, c.outX);
        EXPECT_EQ(out.y, c.outY);
    }
}

TEST(PipelineSteps, Rotations) {
    struct Case {
        std::uint8_t rotation;
        std::int64_t x, y, outX, outY;
    };
    const Case cases[] = {
        {0, 0, 0, 0, 0},          {1, 0, 0, 4095, 0},        {2, 0, 0, 4095, 4095},
        {3, 0, 0, 0, 4095},       {4, 0, 0, 0, 0},           {255, 7, 9, 7, 9},
        {1, 100, 200, 3895, 100}, {2, 100, 200, 3995, 3895}, {3, 100, 200, 200, 3995},
        {1, -4, 4100, -5, -4},
    };
    for (const auto& c : cases) {
        const Coord12 out = Rotate(c.rotation, Coord12{c.x, c.y});
        EXPECT_EQ(out.x, c.outX) << int(c.rotation) << " " << c.x << "," << c.y;
        EXPECT_EQ(out.y, c.outY) << int(c.rotation) << " " << c.x << "," << c.y;
    }
}

TEST(PipelineSteps, PartitionOffsets) {
    struct Case {
        DisplayPartitionEntry e;
        std::int64_t x, y;
        std::int32_t px, py;
    };
    const Case cases[] = {
        {{}, 0, 0, 0, 0},
        {{}, 4095, 4095, 65535, 65535},
        {{}, 2048, 1, 32775, 16},
        {{65535, 0, 65535, 65535}, 4095, 0, 131070, 0},
        {{65535, 0, 65535, 65535}, 0, 4095, 65535, 65535},
        {{0, 131070, 65535, 65535}, 4095, 4095, 65535, 196605},
        {{-65535, 0, 65535, 65535}, 0, 0, -65535, 0},
        {{}, -4, 4100, -64, 65615},
        {{0, 0, 0x7FFFFFFF, 0x7FFFFFFF}, 0x7FFFFFFF, 4095, 0x7FFFFFFF, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        const ScreenPoint p = MapToPartition(c.e, Coord12{c.x, c.y});
        EXPECT_EQ(p.x, c.px) << c.x;
        EXPECT_EQ(p.y, c.py) << c.y;
    }
}

TEST_F(Pipeline, EndToEndRotationInversionAndPartition) {
    // Snap generously so calibration's +-4 does not blur the corners.
    dev.ExpandUp = dev.ExpandLeft = 10;
    dev.ExpandDown = dev.ExpandRight = 4085;
    struct Case {
        const char* name;
        std::uint8_t rotation, format, index;
        int rawX, rawY;
        std::int32_t px, py;
    };
    const Case cases[] = {
        {"plain corner", 0, 0, 0, 0, 0, 0, 0},
        {"format 3 inverts Y of M packets", 0, 3, 0, 0, 0, 0, 65535},
        {"rotation 1", 1, 0, 0, 0, 0, 65535, 0},
        {"rotation 1 then inversion", 1, 3, 0, 0, 0, 65535, 65535},
        {"rotation 3", 3, 0, 0, 0, 0, 0, 65535},
        {"partition entry 1", 0, 0, 1, 4095, 0, 131070, 0},
    };
    ext.DisplayPartition[1] = DisplayPartitionEntry{65535, 0, 65535, 65535};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        dev.Rotation = c.rotation;
        dev.PacketFormat = c.format;
        dev.DisplayIndex = c.index;
        feed(MRaw(c.rawX, c.rawY, true));
        ASSERT_EQ(rec.deliveries().size(), 1u);
        EXPECT_EQ(rec.deliveries()[0].x, c.px);
        EXPECT_EQ(rec.deliveries()[0].y, c.py);
        feed(MRaw(c.rawX, c.rawY, false)); // release, so each case starts a new touch
    }
}

TEST_F(Pipeline, ENoYInversionAndClampedCoordinates) {
    dev.PacketFormat = kPacketFormatE;
    dev.ExpandUp = dev.ExpandLeft = 10;
    dev.ExpandDown = dev.ExpandRight = 4085;
    feed(EPacket(0, 0, kEPen));
    ASSERT_EQ(rec.deliveries().size(), 1u);
    EXPECT_EQ(rec.deliveries()[0].y, 0);
    // EReportCoord on its own: X past 4095 (a packet built in place) is clamped.
    rec.calls.clear();
    const auto p = EPacket(0, 0, kEPen);
    std::copy(p.begin(), p.end(), dev.Packet);
    dev.Packet[3] = 0xFF;
    dev.Packet[4] = 0xFF;
    {
        std::lock_guard g(dev.Lock);
        EReportCoord(dev);
    }
    EXPECT_EQ(rec.deliveries()[0].x, 65535);
}

TEST_F(Pipeline, DisplayIndexOutsideTableUsesFirstEntry) {
    ext.DisplayPartition[0] = DisplayPartitionEntry{7, 9, 65535, 65535};
    dev.DisplayIndex = 200;
    feed(MRaw(2048, 2048, true));
    ASSERT_EQ(rec.deliveries().size(), 1u);
    EXPECT_EQ(rec.deliveries()[0].x, 65535 * 2048 / 4095 + 7);
}

TEST_F(Pipeline, SideButtonNeedsRightStatus) {
    struct Case {
        std::uint8_t rightStatus;
        bool side;
        std::uint16_t flags;
    };
    const Case cases[] = {{1, true, kMouseRightButtonDown},
                          {0, true, kMouseLeftButtonDown},
                          {1, false, kMouseLeftButtonDown}};
    for (std::uint8_t fmt : {kPacketFormatM, kPacketFormatE}) {
        for (const auto& c : cases) {
            rec.calls.clear();
            dev.PacketFormat = fmt;
            dev.RightStatus = c.rightStatus;
            if (fmt == kPacketFormatE) {
                feed(EPacket(100, 100, static_cast<std::uint8_t>(kEPen | (c.side ? kESide : 0))));
                feed(EPacket(100, 100, 0));
            } else {
                feed(MRaw(100, 100, true, c.side));
                feed(MRaw(100, 100, false));
            }
            ASSERT_EQ(rec.flags().size(), 2u);
            EXPECT_EQ(rec.flags()[0], c.flags) << int(fmt) << " " << int(c.rightStatus) << c.side;
        }
    }
}

TEST_F(Pipeline, ReportsOffCopiesPacketsIntoQueue) {
    struct Case {
        const char* name;
        std::uint8_t format;
        std::vector<std::uint8_t> packet;
        std::vector<std::uint8_t> copy;
    };
    const Case cases[] = {
        {"M high half first, side button",
         0,
         {0xC1, 0x10, 0x20, 0x30, 0x40},
         {0xD0, 0x20, 0x10, 0x40, 0x30}},
        {"M low half first kept as is, side bit cleared",
         0,
         {0xD1, 0x10, 0x20, 0x30, 0x40},
         {0xD0, 0x10, 0x20, 0x30, 0x40}},
        {"M pen up", 3, {0x90, 1, 2, 3, 4}, {0x90, 1, 2, 3, 4}},
        {"E (4095, 0) pen down", 2, EPacket(4095, 0, kEPen), {0xD8, 0x7C, 0x7F, 0x00, 0x00}},
        {"E (0, 4095) pen up", 2, EPacket(0, 4095, 0), {0x98, 0x00, 0x00, 0x7C, 0x7F}},
        {"E status bit 1 is pen down",
         2,
         EPacket(33, 1000, 0x02),
         {0xD8, (33 & 0x1F) << 2, 33 >> 5, (1000 & 0x1F) << 2, 1000 >> 5}},
    };
    dev.DisableReport = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dev.PacketFormat = c.format;
        feed(c.packet);
        EXPECT_EQ(queued(), c.copy);
    }
    EXPECT_TRUE(rec.calls.empty()) << "nothing reaches the pointer with reports off";
}

TEST_F(Pipeline, ReportsOffKeepsQueueBounded) {
    dev.DisableReport = 1;
    const auto p = MRaw(10, 10, true);
    for (int i = 0; i < 2000; ++i)
        feed(p);
    EXPECT_LE(QueueDataLength(dev), kResponseQueueCapacity);
    EXPECT_EQ(QueueDataLength(dev) % 5, 0u) << "only whole packets are queued";
}

TEST_F(Pipeline, TouchedControllerSearch) {
    Rs232Device& dev3 = ext.Devices[3];
    // Not armed: nothing recorded.
    feed(dev3, MRaw(10, 10, false));
    EXPECT_EQ(ext.TouchSearchFound, 0);
    ext.TouchSearchArmed = 1;
    ext.TouchSearchDevice = kNoDevice;
    feed(dev3, MRaw(10, 10, true));
    EXPECT_EQ(ext.TouchSearchFound, 0) << "a touch counts when it ends";
    dev3.DisableReport = 1; // the search runs with reports switched off too
    feed(dev3, MRaw(10, 10, false));
    EXPECT_EQ(ext.TouchSearchFound, 1);
    EXPECT_EQ(ext.TouchSearchDevice, 3);
    feed(MRaw(10, 10, false));
    EXPECT_EQ(ext.TouchSearchDevice, 3) << "the first device recorded stays";
    // E packets record on the release flag, not on pen up.
    ext.TouchSearchFound = 0;
    Rs232Device& dev5 = ext.Devices[5];
    dev5.PacketFormat = kPacketFormatE;
    feed(dev5, EPacket(10, 10, 0));
    EXPECT_EQ(ext.TouchSearchFound, 0);
    feed(dev5, EPacket(10, 10, kEPen | kERelease));
    EXPECT_EQ(ext.TouchSearchDevice, 5);
}

TEST_F(Pipeline, DisplayLayoutFromParameter9E) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> reply;
        bool accepted;
        std::uint8_t arrangement, index;
    };
    const Case cases[] = {
        {"0600: v = 6", {0x01, '0', '6', '0', '0', 0x0D}, true, 1, 2},
        {"0F00: v = 15", {0x01, '0', 'F', '0', '0', 0x0D}, true, 3, 3},
        {"only the first two digits count", {0x01, 'F', '1', 'F', 'F', 0x0D}, true, 0, 1},
        {"too short", {0x01, '0', '6', '0', 0x0D}, false, 0, 0},
        {"no SOH", {0x02, '0', '6', '0', '0', 0x0D}, false, 0, 0},
        {"no CR", {0x01, '0', '6', '0', '0', 0x0A}, false, 0, 0},
        {"nothing", {}, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dev.DisplayArrangement = 2;
        dev.DisplayIndex = 1;
        EXPECT_EQ(SetDisplayLayoutFromReply(dev, c.reply.data(), c.reply.size()), c.accepted);
        EXPECT_EQ(dev.DisplayArrangement, c.arrangement);
        EXPECT_EQ(dev.DisplayIndex, c.index);
    }
}

TEST(DisplayPartitionArrangement, EntriesFromArrangement) {
    struct Case {
        std::uint8_t arrangement, u;
        DisplayPartitionEntry want;
    };
    const Case cases[] = {
        {1, 0, {0, 0, 65535, 65535}},         {1, 2, {131070, 0, 65535, 65535}},
        {2, 3, {0, 196605, 65535, 65535}},    {3, 0, {0, 0, 65535, 65535}},
        {3, 1, {65535, 0, 65535, 65535}},     {3, 2, {0, 65535, 65535, 65535}},
        {3, 3, {65535, 65535, 65535, 65535}},
    };
    for (const auto& c : cases) {
        ControlExtension ext;
        ext.DisplayPartition[c.u] = DisplayPartitionEntry{1, 2, 3, 4};
        ArrangeDisplayPartition(ext, c.arrangement, c.u);
        const auto& e = ext.DisplayPartition[c.u];
        EXPECT_EQ(e.originX, c.want.originX) << int(c.arrangement) << "/" << int(c.u);
        EXPECT_EQ(e.originY, c.want.originY) << int(c.arrangement) << "/" << int(c.u);
        EXPECT_EQ(e.extentX, c.want.extentX);
        EXPECT_EQ(e.extentY, c.want.extentY);
    }
    ControlExtension ext;
    ext.DisplayPartition[2] = DisplayPartitionEntry{1, 2, 3, 4};
    ArrangeDisplayPartition(ext, 0, 2); // arrangement 0 changes nothing
    EXPECT_EQ(ext.DisplayPartition[2].originX, 1);
    ArrangeDisplayPartition(ext, 1, 9); // outside the table: ignored
    EXPECT_EQ(ext.DisplayPartition[8].originX, 0);
}

} // namespace
} // namespace kvr::engine::test
