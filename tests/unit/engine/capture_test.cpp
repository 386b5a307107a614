// Calibration capture: three-point (steady touch) and multi-point (averaged touch).
#include "tests/unit/engine/engine_fixture.h"

namespace kvr::engine::test {
namespace {

struct Capture : EngineFixture {
    void touchM(int x, int y, int times = 1) {
        for (int i = 0; i < times; ++i)
            feed(MRaw(x, y, true));
    }
    void liftM() { feed(MRaw(0, 0, false)); }
    RawPointEntry point(int k = 0) const { return dev.RawPoint[k]; }
};

// ---- three-point -----------------------------------------------------------------------

TEST_F(Capture, ThreePointReadyAfterTwentySteadySamples) {
    ASSERT_TRUE(StartThreePointCapture(dev, 1));
    touchM(2000, 1000); // far from the previous sample (0, 0): resets once
    EXPECT_EQ(dev.SampleCount, 0);
    touchM(2000, 1000, 20);
    EXPECT_EQ(dev.SampleCount, 20);
    EXPECT_EQ(dev.PointReady, 0);
    touchM(2000, 1000);
    EXPECT_EQ(dev.PointReady, 1);
    EXPECT_EQ(point(1).x, 2000u);
    EXPECT_EQ(point(1).y, 1000u);
    EXPECT_EQ(dev.CaptureActive, 1);
    liftM();
    EXPECT_EQ(dev.CaptureActive, 0);
    EXPECT_EQ(dev.PenLifted, 1);
    EXPECT_TRUE(rec.calls.empty()) << "captured packets are not reported";
}

TEST_F(Capture, ThreePointTwentyOneSamplesWhenPreviousSampleMatches) {
    ASSERT_TRUE(StartThreePointCapture(dev, 0));
    touchM(700, 700);
    liftM(); // too short: reset, capture goes on; OldPoint stays at (700, 700)
    EXPECT_EQ(dev.CaptureActive, 1);
    EXPECT_EQ(dev.SampleCount, 0);
    touchM(700, 700, 21);
    EXPECT_EQ(dev.PointReady, 1);
}

TEST_F(Capture, ThreePointSteadinessAndAveraging) {
    struct Case {
        const char* name;
        int dx, dy; // offset of one sample after ten steady ones
        bool restarted;
    };
    const Case cases[] = {
        {"49 units in x keeps counting", 49, 0, false},
        {"50 units in x restarts", 50, 0, true},
        {"50 units in y restarts", 0, -50, true},
        {"49 units in both keeps counting", -49, 49, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartThreePointCapture(dev, 0));
        dev.OldPoint = ScreenPoint{1000, 1000};
        touchM(1000, 1000, 10);
        ASSERT_EQ(dev.SampleCount, 10);
        touchM(1000 + c.dx, 1000 + c.dy);
        if (c.restarted) {
            EXPECT_EQ(dev.SampleCount, 0);
            EXPECT_EQ(point().x, 0u);
            EXPECT_EQ(point().y, 0u);
        } else {
            EXPECT_EQ(dev.SampleCount, 11);
        }
    }
    // Each counted sample moves the point halfway towards the sample before it.
    ASSERT_TRUE(StartThreePointCapture(dev, 2));
    dev.OldPoint = ScreenPoint{1000, 1000};
    touchM(1000, 1000); // point = (1000, 1000)
    touchM(1040, 1000); // point = avg(1000, old 1000)
    touchM(1040, 1000); // point = avg(1000, old 1040) = 1020
    EXPECT_EQ(point(2).x, 1020u);
    touchM(1040, 1000); // avg(1020, 1040) = 1030
    EXPECT_EQ(point(2).x, 1030u);
}

TEST_F(Capture, ThreePointInvertsYForFormat3AndReadsE) {
    dev.PacketFormat = kPacketFormatMInvertY;
    ASSERT_TRUE(StartThreePointCapture(dev, 0));
    touchM(100, 95);
    EXPECT_EQ(dev.CurPoint.x, 100);
    EXPECT_EQ(dev.CurPoint.y, 4000);
    dev.PacketFormat = kPacketFormatE;
    feed(EPacket(321, 95, kEPen));
    EXPECT_EQ(dev.CurPoint.x, 321);
    EXPECT_EQ(dev.CurPoint.y, 95);
    // E pen up = status bits 0 and 1 both clear (the release flag alone is not pen down).
    dev.SampleCount = 5;
    feed(EPacket(321, 95, kERelease));
    EXPECT_EQ(dev.SampleCount, 0);
}

TEST_F(Capture, ThreePointHeldPenStaysReadyUntilLift) {
    ASSERT_TRUE(StartThreePointCapture(dev, 0));
    dev.OldPoint = ScreenPoint{500, 600};
    touchM(500, 600, 300);
    EXPECT_EQ(dev.PointReady, 1);
    EXPECT_EQ(dev.SampleCount, 20);
    EXPECT_EQ(point().x, 500u);
    liftM();
    EXPECT_EQ(dev.CaptureActive, 0);
    // After the capture ends, packets are reported again.
    touchM(500, 600);
    EXPECT_EQ(rec.deliveries().size(), 1u);
}

// ---- multi-point -----------------------------------------------------------------------

struct MultiCase {
    const char* name;
    std::uint8_t format;
};

void PrintTo(const MultiCase& c, std::ostream* os) {
    *os << c.name;
}

class MultiPoint : public Capture, public ::testing::WithParamInterface<MultiCase> {
protected:
    void SetUp() override { dev.PacketFormat = GetParam().format; }
    // A pen-down sample at 12-bit position (x, y) in the device's format; for M the
    // multi-point reading gives back exactly x and y when they are even (see MSample).
    void down(int x, int y, int times = 1) {
        for (int i = 0; i < times; ++i)
            feed(sample(x, y, true));
    }
    void up() { feed(sample(0, 0, false)); }
    std::vector<std::uint8_t> sample(int x, int y, bool pen) {
        if (dev.PacketFormat == kPacketFormatE) return EPacket(x, y, pen ? kEPen : 0);
        return MPacket(MSigned(x), MSigned(y), pen);
    }
    // 14-bit M coordinate whose signed reading (value * 2 + 2048) is `sample` (even).
    static int MSigned(int sample) {
        const int value = (sample - 2048) / 2; // -1024..1023
        const bool negative = value < 0;
        const int magnitude = negative ? value + 1024 : value;
        const int high = (magnitude >> 4) | (negative ? 0x40 : 0);
        const int low = (magnitude & 15) << 3;
        return high * 128 + low;
    }
};

TEST_P(MultiPoint, TooShortTouchRestartsThePoint) {
    ASSERT_TRUE(StartMultiPointCapture(dev, 5, 4));
    down(1000, 2000, 40);
    up();
    EXPECT_EQ(dev.RawPoint[4].x, 0u);
    EXPECT_EQ(dev.RawPoint[4].y, 0u);
    EXPECT_EQ(dev.SampleCount, 0);
    EXPECT_EQ(dev.CaptureActive, 1);
    EXPECT_EQ(dev.PointReady, 0);
}

TEST_P(MultiPoint, ReadyOnSixtySecondSampleWithAverageOfSamples17To46) {
    ASSERT_TRUE(StartMultiPointCapture(dev, 9, 8));
    down(100, 100, 16);   // samples 1..16: not summed
    down(1000, 3000, 15); // samples 17..31
    down(1200, 3100, 15); // samples 32..46
    down(4000, 4000, 15); // samples 47..61: not summed
    EXPECT_EQ(dev.RawPoint[8].x, 1100u);
    EXPECT_EQ(dev.RawPoint[8].y, 3050u);
    EXPECT_EQ(dev.SampleCount, 61);
    EXPECT_EQ(dev.PointReady, 0);
    down(4000, 4000); // sample 62
    EXPECT_EQ(dev.PointReady, 1);
    down(10, 10, 300); // held: the point does not change
    EXPECT_EQ(dev.RawPoint[8].x, 1100u);
    EXPECT_EQ(dev.PointReady, 1);
    EXPECT_EQ(dev.CaptureActive, 1);
    up();
    EXPECT_EQ(dev.CaptureActive, 0);
    EXPECT_EQ(dev.PenLifted, 1);
    EXPECT_EQ(dev.SampleCount, 0);
    EXPECT_EQ(dev.PointReady, 1);
    EXPECT_TRUE(rec.calls.empty());
}

TEST_P(MultiPoint, LiftAtExactlySixtyChangesNothing) {
    ASSERT_TRUE(StartMultiPointCapture(dev, 3, 0));
    down(2000, 2000, 60);
    up();
    EXPECT_EQ(dev.SampleCount, 60);
    EXPECT_EQ(dev.RawPoint[0].x, 2000u);
    EXPECT_EQ(dev.CaptureActive, 1);
    down(2000, 2000, 2); // 61, then 62nd sample: ready
    EXPECT_EQ(dev.PointReady, 1);
}

INSTANTIATE_TEST_SUITE_P(Formats, MultiPoint,
                         ::testing::Values(MultiCase{"M", kPacketFormatM},
                                           MultiCase{"E", kPacketFormatE}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Capture, MultiPointSignedMReading) {
    struct Case {
        const char* name;
        std::uint8_t high, low;
        std::uint32_t sample;
    };
    const Case cases[] = {
        {"h 0x40 l 0: -1024", 0x40, 0x00, 0},
        {"h 0x3F l 0x78: 1023", 0x3F, 0x78, 4094},
        {"zero", 0x00, 0x00, 2048},
        {"h 0x7F l 0x7F: -1", 0x7F, 0x7F, 2046},
        {"low bits 0..2 ignored", 0x01, 0x07, 2080},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(StartMultiPointCapture(dev, 3, 1));
        dev.SampleCount = 45; // the next sample is the last one summed: sums / 30
        const std::vector<std::uint8_t> p = {0xD0, c.low, c.high, c.low, c.high};
        feed(p);
        EXPECT_EQ(dev.RawPoint[1].x, c.sample / 30);
        // Summing 30 equal samples gives the sample back exactly.
        ASSERT_TRUE(StartMultiPointCapture(dev, 3, 1));
        dev.SampleCount = 16;
        for (int i = 0; i < 30; ++i)
            feed(p);
        EXPECT_EQ(dev.RawPoint[1].x, c.sample);
        EXPECT_EQ(dev.RawPoint[1].y, c.sample);
    }
    // High-half-first order reads the halves from the other bytes.
    ASSERT_TRUE(StartMultiPointCapture(dev, 3, 1));
    dev.SampleCount = 16;
    for (int i = 0; i < 30; ++i)
        feed({0xC0, 0x3F, 0x78, 0x40, 0x00});
    EXPECT_EQ(dev.RawPoint[1].x, 4094u);
    EXPECT_EQ(dev.RawPoint[1].y, 0u);
}

TEST_F(Capture, StartChecksAndBadIndexIgnored) {
    EXPECT_FALSE(StartThreePointCapture(dev, 3));
    EXPECT_FALSE(StartMultiPointCapture(dev, 4, 0));
    EXPECT_FALSE(StartMultiPointCapture(dev, 5, 5));
    EXPECT_EQ(dev.CaptureActive, 0);
    EXPECT_TRUE(StartMultiPointCapture(dev, 9, 8));
    dev.RawPoint[3] = RawPointEntry{7, 7};
    EXPECT_TRUE(StartThreePointCapture(dev, 2));
    EXPECT_EQ(dev.CaptureKind, kCaptureKindThreePoint);
    EXPECT_EQ(dev.CaptureIndex, 2);
    // An index past RawPoint (set by hand) never writes out of bounds.
    dev.CaptureIndex = 200;
    touchM(1, 1, 50);
    dev.CaptureKind = 5;
    touchM(1, 1, 50);
    EXPECT_EQ(dev.RawPoint[3].x, 7u);
}

TEST_F(Capture, StopVariantsAndReadyPoint) {
    RawPointEntry p{1, 1};
    EXPECT_FALSE(ReadyCapturedPoint(dev, p));
    EXPECT_EQ(p.x, 0u);
    ASSERT_TRUE(StartThreePointCapture(dev, 1));
    dev.OldPoint = ScreenPoint{300, 400};
    touchM(300, 400, 21);
    ASSERT_TRUE(ReadyCapturedPoint(dev, p));
    EXPECT_EQ(p.x, 300u);
    EXPECT_EQ(p.y, 400u);
    liftM();
    dev.RawPoint[0] = RawPointEntry{5, 5};
    StopThreePointCapture(dev);
    EXPECT_EQ(dev.PenLifted, 1) << "left as it was";
    EXPECT_EQ(dev.RawPoint[0].x, 0u);
    EXPECT_EQ(dev.CaptureKind, 0);
    EXPECT_FALSE(ReadyCapturedPoint(dev, p));
    ASSERT_TRUE(StartMultiPointCapture(dev, 5, 2));
    dev.PenLifted = 1;
    StopMultiPointCapture(dev);
    EXPECT_EQ(dev.PenLifted, 0);
    EXPECT_EQ(dev.CaptureActive, 0);
    dev.PointReady = 1;
    dev.CaptureIndex = 9;
    EXPECT_FALSE(ReadyCapturedPoint(dev, p));
}

} // namespace
} // namespace kvr::engine::test
