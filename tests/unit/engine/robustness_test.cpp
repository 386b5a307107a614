// Random byte streams with random settings: decoder state stays in range, the queue stays
// within its bound, and several devices, readers and setting changes run side by side
// without blocking.
#include "tests/support/test_env.h"
#include "tests/unit/engine/engine_fixture.h"

#include <atomic>
#include <random>
#include <thread>

namespace kvr::engine::test {
namespace {

// Bytes that mean something to a decoder come up often.
std::uint8_t InterestingByte(std::mt19937& rng) {
    static constexpr std::uint8_t kSpecial[] = {0x55, 0x54, 0x01, 0x0D, 'i',  'T',  0x00,
                                                0x80, 0xC0, 0xD1, 0x81, 0x83, 0x8F, 0x7F};
    const unsigned pick = rng() % 4;
    if (pick == 0) return kSpecial[rng() % sizeof(kSpecial)];
    return static_cast<std::uint8_t>(rng());
}

void RandomSettings(Rs232Device& d, std::mt19937& rng) {
    auto any32 = [&] { return static_cast<std::int32_t>(rng()); };
    auto small = [&] { return static_cast<std::int32_t>(rng() % 4096); };
    d.PacketFormat = static_cast<std::uint8_t>(rng() % 6);
    d.ReportMode = static_cast<std::uint8_t>(rng() % 5);
    d.Rotation = static_cast<std::uint8_t>(rng());
    d.DisableReport = static_cast<std::uint8_t>(rng() % 3);
    d.RightStatus = static_cast<std::uint8_t>(rng() % 2);
    d.DisplayIndex = static_cast<std::uint8_t>(rng());
    d.ExpandUp = static_cast<std::uint16_t>(rng());
    d.ExpandDown = static_cast<std::uint16_t>(rng());
    d.ExpandLeft = static_cast<std::uint16_t>(rng());
    d.ExpandRight = static_cast<std::uint16_t>(rng());
    const bool wild = rng() % 3 == 0;
    CalibrationSet s;
    s.CP1X = wild ? any32() : small();
    s.CP1Y = wild ? any32() : small();
    s.CP2X = wild ? any32() : small();
    s.CP2Y = small();
    s.CP3X = small();
    s.CP3Y = wild ? s.CP1Y : small();
    s.BPX = wild ? any32() : small();
    s.BPY = small();
    StoreCalibration(d, s);
    d.CaptureActive = static_cast<std::uint8_t>(rng() % 3 == 0);
    d.CaptureKind = static_cast<std::uint8_t>(rng() % 2 ? kCaptureKindThreePoint : rng() % 12);
    d.CaptureIndex = static_cast<std::uint8_t>(rng() % 12);
    d.SampleCount = static_cast<std::uint8_t>(rng());
}

void ExpectSane(const Rs232Device& d) {
    EXPECT_LT(d.PacketIndex, kPacketBytes);
    if (d.PacketFormat != kPacketFormatE) {
        EXPECT_LE(d.PacketIndex, 4);
    }
    EXPECT_TRUE(d.ReplyMode == 0 || d.ReplyMode == 1 || d.ReplyMode == 3);
    EXPECT_LE(d.ResponseQueue.count(), kResponseQueueCapacity);
}

TEST(EngineRobustness, RandomStreamsWithRandomSettings) {
    ControlExtension ext;
    Recorder rec;
    ext.Pointer.Port = &rec;
    ext.Signaller = &rec;
    for (auto& e : ext.DisplayPartition) {
        e = DisplayPartitionEntry{static_cast<std::int32_t>(0x7FFF0000), -5,
                                  static_cast<std::int32_t>(0x7FFFFFFF), 65535};
    }
    std::mt19937 rng(20261208);
    std::vector<std::uint8_t> chunk;
    for (int round = 0; round < 3000; ++round) {
        Rs232Device& d = ext.Devices[rng() % kMaxDevices];
        if (round % 7 == 0) RandomSettings(d, rng);
        chunk.resize(rng() % 600);
        for (auto& b : chunk)
            b = InterestingByte(rng);
        DecodeChunk(d, chunk.data(), chunk.size());
        ExpectSane(d);
        if (round % 5 == 0) {
            std::uint8_t out[512];
            ReadQueueData(d, out, rng() % 513);
        }
        rec.calls.clear();
        if (::testing::Test::HasFailure()) {
            FAIL() << "round " << round;
        }
    }
}

TEST(EngineRobustness, QueueStaysBoundedWhenNobodyReads) {
    ControlExtension ext;
    Rs232Device& d = ext.Devices[1];
    std::mt19937 rng(7);
    std::vector<std::uint8_t> chunk(255);
    for (std::uint8_t format : {kPacketFormatM, kPacketFormatE}) {
        for (std::uint8_t off : {0, 1}) {
            d.PacketFormat = format;
            d.DisableReport = off;
            for (int i = 0; i < 400; ++i) {
                for (auto& b : chunk)
                    b = InterestingByte(rng);
                DecodeChunk(d, chunk.data(), chunk.size());
            }
            EXPECT_LE(d.ResponseQueue.count(), kResponseQueueCapacity);
        }
    }
    EXPECT_EQ(d.ResponseQueue.count(), kResponseQueueCapacity);
    EXPECT_GT(d.ResponseQueue.droppedBytes(), 0u);
}

// Devices decode on their own threads while control threads read queues, change settings
// under the device lock and driver-wide fields under the driver-wide lock: everything ends.
TEST(EngineRobustness, DevicesReadersAndControlRunTogether) {
    ControlExtension ext;
    Recorder sink; // its vector is only touched under the pointer-port lock
    sink.isConnected = true;
    ext.Pointer.Port = &sink;
    std::atomic<bool> stop{false};
    std::atomic<int> decodersDone{0};
    std::vector<std::thread> threads;
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&, n] {
            Rs232Device& d = ext.Devices[static_cast<std::size_t>(n)];
            std::mt19937 rng(static_cast<unsigned>(n));
            std::vector<std::uint8_t> chunk(200);
            for (int i = 0; i < 300; ++i) {
                for (auto& b : chunk)
                    b = InterestingByte(rng);
                DecodeChunk(d, chunk.data(), chunk.size());
            }
            decodersDone.fetch_add(1);
        });
    }
    threads.emplace_back([&] { // reader of every queue
        std::uint8_t out[512];
        while (!stop.load()) {
            for (auto& d : ext.Devices)
                ReadQueueData(d, out, sizeof out);
        }
    });
    threads.emplace_back([&] { // setting changes
        std::mt19937 rng(99);
        while (!stop.load()) {
            Rs232Device& d = ext.Devices[rng() % 4];
            {
                std::lock_guard g(d.Lock);
                d.PacketFormat = static_cast<std::uint8_t>(rng() % 4);
                d.ReportMode = static_cast<std::uint8_t>(rng() % 4);
                d.DisableReport = static_cast<std::uint8_t>(rng() % 2);
            }
            {
                std::lock_guard g(ext.Lock);
                ext.ManualRightClick = static_cast<std::uint8_t>(rng() % 2);
                ext.LastDownDevice = ext.LastUpDevice = kNoDevice;
                ext.TouchSearchArmed = 1;
                ext.TouchSearchFound = 0;
            }
            FlushQueueData(ext.Devices[rng() % 4]);
        }
    });
    EXPECT_TRUE(
        kvr::test::waitUntil([&] { return decodersDone.load() == 4; }, std::chrono::seconds(60)));
    stop.store(true);
    for (auto& t : threads)
        t.join();
    for (const auto& d : ext.Devices)
        ExpectSane(d);
}

// Which locks are held while the engine calls out: probed from another thread, since a
// thread may not try_lock a std::mutex it already owns.
class LockProbe : public PointerPort, public EventSignaller {
public:
    explicit LockProbe(ControlExtension& ext) : ext_(ext) {}
    struct Held {
        bool device, driver, pointer, queueFree;
    };
    std::vector<Held> atDelivery, atEvent;

    bool connected() const override { return true; }
    void deliver(const MouseInputData&) override { atDelivery.push_back(probe()); }
    void setEvent(EventRef) override { atEvent.push_back(probe()); }

private:
    static bool heldByOther(std::mutex& m) {
        if (m.try_lock()) {
            m.unlock();
            return false;
        }
        return true;
    }
    Held probe() {
        Held h{};
        std::thread t([&] {
            h.device = heldByOther(ext_.Devices[0].Lock);
            h.driver = heldByOther(ext_.Lock);
            h.pointer = heldByOther(ext_.Pointer.Lock);
            h.queueFree = QueueDataLength(ext_.Devices[0]) < kResponseQueueCapacity + 1;
        });
        t.join();
        return h;
    }
    ControlExtension& ext_;
};

TEST(EngineLocks, DocumentedLocksAreHeldWhenTheEngineCallsOut) {
    ControlExtension ext;
    LockProbe probe(ext);
    ext.Pointer.Port = &probe;
    ext.Signaller = &probe;
    ext.GlobalDownEvent = 1;
    Rs232Device& d = ext.Devices[0];
    d.ReinitEvent = 2;
    const std::vector<std::uint8_t> bytes = {0xD0, 1, 2, 3, 4, 0x01, 'i', 'T', 0x0D};
    DecodeChunk(d, bytes.data(), bytes.size());
    ASSERT_EQ(probe.atDelivery.size(), 1u);
    EXPECT_TRUE(probe.atDelivery[0].device);
    EXPECT_TRUE(probe.atDelivery[0].driver);
    EXPECT_TRUE(probe.atDelivery[0].pointer);
    EXPECT_TRUE(probe.atDelivery[0].queueFree) << "the queue lock is never held around a call";
    ASSERT_EQ(probe.atEvent.size(), 2u); // global down, then the restart announcement
    EXPECT_TRUE(probe.atEvent[0].device);
    EXPECT_TRUE(probe.atEvent[0].driver);
    EXPECT_FALSE(probe.atEvent[0].pointer);
    EXPECT_TRUE(probe.atEvent[1].device);
    EXPECT_FALSE(probe.atEvent[1].driver);
    // Everything is released when the decode entry returns.
    EXPECT_TRUE(d.Lock.try_lock());
    d.Lock.unlock();
    EXPECT_TRUE(ext.Lock.try_lock());
    ext.Lock.unlock();
}

} // namespace
} // namespace kvr::engine::test
