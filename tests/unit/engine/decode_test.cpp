// Byte stream decoding: M and E packets, replies, restart announcement, response queue.
#include "tests/unit/engine/engine_fixture.h"

namespace kvr::engine::test {
namespace {

constexpr EventRef kReinit = 77;

struct Decode : EngineFixture {
    Decode() { dev.ReinitEvent = kReinit; }
    // Decoded raw position of the last packet, read through a three-point capture.
    void captureRaw() { ASSERT_TRUE(StartThreePointCapture(dev, 0)); }
    int packets() const { return static_cast<int>(rec.deliveries().size()); }
};

// ---- M packets -------------------------------------------------------------------------

struct MOrderCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    int rawX, rawY; // 14-bit value shifted right 2
};

TEST_F(Decode, MPacketByteOrders) {
    const MOrderCase cases[] = {
        {"high half first (lead bit 4 = 0)",
         {0xC0, 0x10, 0x20, 0x30, 0x40},
         (0x10 * 128 + 0x20) >> 2,
         (0x30 * 128 + 0x40) >> 2},
        {"low half first (lead bit 4 = 1)",
         {0xD0, 0x10, 0x20, 0x30, 0x40},
         (0x20 * 128 + 0x10) >> 2,
         (0x40 * 128 + 0x30) >> 2},
        {"largest 14-bit value", {0xD0, 0x7F, 0x7F, 0x7F, 0x7F}, 4095, 4095},
        {"zero", {0xC0, 0, 0, 0, 0}, 0, 0},
        {"ignored lead bits 5, 3, 2, 1", {0xEE, 0x00, 0x01, 0x00, 0x02}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        captureRaw();
        feed(c.bytes);
        EXPECT_EQ(dev.CurPoint.x, c.rawX);
        EXPECT_EQ(dev.CurPoint.y, c.rawY);
        EXPECT_EQ(dev.PacketIndex, 0);
    }
}

TEST_F(Decode, MPacketSplitAcrossChunksCompletesOnce) {
    const auto p = MRaw(1000, 2000, true);
    for (std::size_t i = 0; i < p.size(); ++i)
        feed({p[i]});
    EXPECT_EQ(packets(), 1);
    feed(Cat({p, p, p}));
    EXPECT_EQ(packets(), 4);
}

TEST_F(Decode, MResyncOnLeadByte) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int packets;
    };
    const Case cases[] = {
        {"lead as byte 1", {0xC0, 0xC0, 1, 2, 3, 4}, 1},
        {"lead as byte 3", {0xC0, 1, 2, 0xC0, 1, 2, 3, 4}, 1},
        {"lead as byte 4 (last)", {0xC0, 1, 2, 3, 0xC0, 1, 2, 3, 4}, 1},
        {"lead stream only", {0xC0, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0}, 0},
        {"two whole packets", {0xC0, 1, 2, 3, 4, 0xC0, 1, 2, 3, 4}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        dev.PacketIndex = 0;
        feed(c.bytes);
        EXPECT_EQ(packets(), c.packets);
        EXPECT_EQ(QueueDataLength(dev), 0u) << "dropped bytes are never queued";
    }
}

TEST_F(Decode, MRepliesBetweenPacketsAreQueuedAndZeroIsDiscarded) {
    feed(Cat({MRaw(10, 10, true), {0x00}, {0x01, '0', 0x0D}, {0x00}, MRaw(10, 10, false)}));
    EXPECT_EQ(packets(), 2);
    EXPECT_EQ(queued(), (std::vector<std::uint8_t>{0x01, '0', 0x0D}));
}

// At connect the identification reply is read with the M decoder whatever the format: a touch
// meanwhile (M or E packets) is reported by neither, and the reply after it is queued whole.
TEST_F(Decode, IdentificationDecodingQueuesRepliesAndReportsNoPacket) {
    const auto reply = Bytes("Lumarcon02");
    for (const auto& touch : {MRaw(10, 10, false), EPacket(0x210, 0x302, kEPen, 0x07)}) {
        const auto bytes = Cat({touch, reply});
        std::lock_guard guard(dev.Lock);
        FlushQueueData(dev);
        MDecodeReplyOnly(dev, bytes.data(), bytes.size());
        EXPECT_EQ(packets(), 0);
        const auto q = queued();
        EXPECT_TRUE(q.size() >= reply.size() &&
                    std::equal(reply.begin(), reply.end(), q.end() - reply.size()));
    }
}

TEST_F(Decode, MRestartAnnouncementVariants) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int signals;
    };
    const Case cases[] = {
        {"SOH i T CR", {0x01, 'i', 'T', 0x0D}, 1},
        {"SOH i X T CR", {0x01, 'i', 'X', 'T', 0x0D}, 0},
        {"SOH SOH i T CR (second SOH resets)", {0x01, 0x01, 'i', 'T', 0x0D}, 0},
        {"twice", {0x01, 'i', 'T', 0x0D, 0x01, 'i', 'T', 0x0D}, 2},
        {"split over chunks", {0x01, 'i'}, 0},
        {"lowercase t", {0x01, 'i', 't', 0x0D}, 0},
        {"zero bytes inside are not seen", {0x01, 0x00, 'i', 0x00, 'T', 0x00, 0x0D}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        FlushQueueData(dev);
        dev.ReplyWatcher = 0;
        feed(c.bytes);
        EXPECT_EQ(rec.eventCount(kReinit), c.signals);
        std::vector<std::uint8_t> expect;
        for (auto b : c.bytes)
            if (b != 0) expect.push_back(b);
        EXPECT_EQ(queued(), expect) << "announcement bytes are queued too";
    }
    // Completed across two chunks.
    rec.calls.clear();
    dev.ReplyWatcher = 0;
    feed({0x01, 'i'});
    feed({'T', 0x0D});
    EXPECT_EQ(rec.eventCount(kReinit), 1);
}

TEST_F(Decode, MPacketBetweenAnnouncementBytesDoesNotResetWatcher) {
    feed(Cat({{0x01, 'i'}, MRaw(5, 5, true), {'T', 0x0D}}));
    EXPECT_EQ(rec.eventCount(kReinit), 1);
}

TEST_F(Decode, ReinitWithoutEventReferenceSetsNothing) {
    dev.ReinitEvent = kNoEvent;
    feed({0x01, 'i', 'T', 0x0D});
    EXPECT_TRUE(rec.calls.empty());
}

// ---- E packets -------------------------------------------------------------------------

struct EDecode : Decode {
    EDecode() { dev.PacketFormat = kPacketFormatE; }
};

TEST_F(EDecode, CompletePacketCoordinates) {
    captureRaw();
    feed(EPacket(0x123, 0xABC, kEPen));
    EXPECT_EQ(dev.CurPoint.x, 0x123);
    EXPECT_EQ(dev.CurPoint.y, 0xABC);
    EXPECT_EQ(dev.PacketIndex, 0);
}

TEST_F(EDecode, PacketJudging) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        int packets;
        std::vector<std::uint8_t> queue;
    };
    auto good = EPacket(100, 200, kEPen, 0x5A);
    auto withByte = [&](int i, std::uint8_t v) {
        auto p = good;
        p[static_cast<std::size_t>(i)] = v;
        return p;
    };
    const Case cases[] = {
        {"good packet, any checksum byte", good, 1, {}},
        {"U U T ... second U restarts", Cat({{0x55}, good}), 1, {}},
        {"status without bit 7 dropped", withByte(2, 0x01), 0, {}},
        {"status U restarts", Cat({{0x55, 0x54, 0x55}, good}), 1, {}},
        {"byte 4 = 0x10 dropped", withByte(4, 0x10), 0, {}},
        {"byte 6 = 0x80 dropped", withByte(6, 0x80), 0, {}},
        {"byte 4 = 0x55 restarts there",
         Cat({{0x55, 0x54, 0x81, 0x00, 0x55}, {0x54, 0x81, 1, 0, 2, 0, 0, 0, 9}}),
         1,
         {}},
        {"byte 8 != 0 dropped", withByte(8, 0x01), 0, {}},
        {"byte 8 = U restarts",
         Cat({{0x55, 0x54, 0x81, 0, 0, 0, 0, 0, 0x55}, {0x54, 0x81, 1, 0, 2, 0, 0, 0, 9}}),
         1,
         {}},
        {"byte 7 any value", withByte(7, 0xFF), 1, {}},
        {"noise between packets discarded", Cat({{0x02, 0x7F, 0xFF, 0x00}, good}), 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        dev.PacketIndex = 0;
        dev.ReplyMode = 0;
        FlushQueueData(dev);
        feed(c.bytes);
        EXPECT_EQ(packets(), c.packets);
        EXPECT_EQ(queued(), c.queue);
    }
}

TEST_F(EDecode, ReplyModes) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint8_t> queue;
        int packetsAfter; // packets decoded from what follows the reply
    };
    const auto twelveLetters = Bytes("ABCDEFGHIJKL");
    const Case cases[] = {
        {"SOH 0 CR ends at CR", {0x01, '0', 0x0D}, {0x01, '0', 0x0D}, 0},
        {"SOH + twelve letters, no CR: ten bytes", Cat({{0x01}, twelveLetters}),
         Cat({{0x01}, Bytes("ABCDEFGHI")}), 0},
        {"U A + twelve bytes: ten queued", Cat({Bytes("UA"), Bytes("0123456789ab")}),
         Bytes("UA01234567"), 0},
        {"a U inside a reply is text", Bytes("UAUTUTUTUT"), Bytes("UAUTUTUTUT"), 0},
        {"a CR does not end a U reply", Cat({Bytes("UA"), {0x0D}, Bytes("1234567")}),
         Cat({Bytes("UA"), {0x0D}, Bytes("1234567")}), 0},
        {"packet right after a framed reply",
         Cat({{0x01, '0', 0x0D}, EPacket(1, 2, kEPen)}),
         {0x01, '0', 0x0D},
         1},
        {"packet after a counted reply", Cat({Bytes("UZ12345678"), EPacket(1, 2, kEPen)}),
         Bytes("UZ12345678"), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rec.calls.clear();
        dev.PacketIndex = 0;
        dev.ReplyMode = 0;
        FlushQueueData(dev);
        feed(c.bytes);
        EXPECT_EQ(queued(), c.queue);
        EXPECT_EQ(packets(), c.packetsAfter);
        EXPECT_EQ(dev.ReplyMode, 0);
    }
}

TEST_F(EDecode, LastBytesAfterTenByteCutAreJudgedAsPacketBytes) {
    // 'U' 'A' + 8 bytes are the reply; then a whole packet follows among the twelve.
    feed(Cat({Bytes("UA01234567"), EPacket(5, 6, kEPen)}));
    EXPECT_EQ(queued(), Bytes("UA01234567"));
    EXPECT_EQ(packets(), 1);
}

TEST_F(EDecode, CheckSumIsKeptButNotEnforced) {
    // Seed 0xAA + bytes 0..7 of the packet (byte 8 is not added).
    auto p = EPacket(0x345, 0x678, kEPen);
    std::uint8_t sum = 0xAA;
    for (int i = 0; i < 8; ++i)
        sum = static_cast<std::uint8_t>(sum + p[static_cast<std::size_t>(i)]);
    for (std::uint8_t check : {sum, static_cast<std::uint8_t>(sum + 1)}) {
        p[9] = check;
        rec.calls.clear();
        feed(p);
        EXPECT_EQ(dev.CheckSum, sum);
        EXPECT_EQ(packets(), 1);
    }
}

// ---- format switching ------------------------------------------------------------------

TEST_F(Decode, FormatChangeTakesEffectAtNextChunkAndNeverOverrunsPacket) {
    dev.PacketFormat = kPacketFormatE;
    const auto e = EPacket(1, 2, kEPen);
    feed(std::vector<std::uint8_t>(e.begin(), e.begin() + 8)); // left at index 8
    EXPECT_EQ(dev.PacketIndex, 8);
    dev.PacketFormat = kPacketFormatM;
    feed(MRaw(100, 100, true)); // the stale E index must not be used by the M decoder
    EXPECT_EQ(packets(), 1);
    EXPECT_EQ(dev.PacketIndex, 0);
}

TEST_F(Decode, ChunkRoutingByPacketFormat) {
    for (std::uint8_t fmt : {0, 1, 3, 4, 9}) {
        SCOPED_TRACE(static_cast<int>(fmt));
        rec.calls.clear();
        dev.PacketFormat = fmt;
        feed(MRaw(100, 100, true));
        EXPECT_EQ(packets(), 1);
    }
    rec.calls.clear();
    dev.PacketFormat = kPacketFormatE;
    feed(EPacket(100, 100, kEPen));
    EXPECT_EQ(packets(), 1);
}

TEST_F(Decode, ZeroByteReadDecodesNothing) {
    DecodeChunk(dev, nullptr, 0);
    std::uint8_t b = 0xC0;
    DecodeChunk(dev, &b, 0);
    EXPECT_EQ(dev.PacketIndex, 0);
}

TEST_F(Decode, ReadBufferEntryCapsCount) {
    const auto p = MRaw(1, 1, true);
    std::copy(p.begin(), p.end(), dev.ReadBuffer);
    DecodeReadBuffer(dev, p.size());
    EXPECT_EQ(packets(), 1);
    DecodeReadBuffer(dev, 100000); // no overrun past the 255-byte buffer
    SUCCEED();
}

// ---- hex and queue ---------------------------------------------------------------------

TEST(HexStringToByte, Table) {
    struct Case {
        const char* text;
        std::size_t n;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"9E", 2, 0x9E}, {"G1", 2, 0x01}, {"ABC", 3, 0xBC}, {"ff", 2, 0xFF},   {"aF", 2, 0xAF},
        {"", 0, 0x00},   {"12", 1, 0x01}, {"--", 2, 0x00},  {"0x1f", 4, 0x1F}, {"7", 1, 0x07},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexStringToByte(c.text, c.n), c.value) << c.text;
    }
    EXPECT_EQ(HexStringToByte(static_cast<const char*>(nullptr), 2), 0);
}

TEST_F(Decode, QueueTakeFlushAndCount) {
    FlushQueueData(dev); // empty: nothing happens
    EXPECT_EQ(QueueDataLength(dev), 0u);
    for (std::uint8_t b : {1, 2, 3})
        EXPECT_TRUE(QueueResponseData(b, dev));
    std::uint8_t out[512];
    EXPECT_EQ(ReadQueueData(dev, out, 512), 3u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(ReadQueueData(dev, out, 512), 0u);
    for (std::uint8_t b : {4, 5, 6})
        QueueResponseData(b, dev);
    EXPECT_EQ(ReadQueueData(dev, out, 2), 2u);
    EXPECT_EQ(QueueDataLength(dev), 1u);
    FlushQueueData(dev);
    EXPECT_EQ(QueueDataLength(dev), 0u);
}

TEST_F(Decode, QueueBoundRefusesNewestBytesAndKeepsOrder) {
    for (std::size_t i = 0; i < kResponseQueueCapacity; ++i) {
        ASSERT_TRUE(QueueResponseData(static_cast<std::uint8_t>(i), dev));
    }
    EXPECT_FALSE(QueueResponseData(0xEE, dev));
    EXPECT_EQ(QueueDataLength(dev), kResponseQueueCapacity);
    EXPECT_EQ(dev.ResponseQueue.droppedBytes(), 1u);
    std::uint8_t first = 0xFF;
    ASSERT_EQ(ReadQueueData(dev, &first, 1), 1u);
    EXPECT_EQ(first, 0) << "the oldest byte is kept";
    // One place free: a 5-byte packet copy does not fit and is refused whole.
    dev.DisableReport = 1;
    feed(MRaw(1, 1, true));
    EXPECT_EQ(QueueDataLength(dev), kResponseQueueCapacity - 1);
    // The queue wraps around correctly once drained.
    std::vector<std::uint8_t> all(kResponseQueueCapacity);
    EXPECT_EQ(ReadQueueData(dev, all.data(), all.size()), kResponseQueueCapacity - 1);
    EXPECT_EQ(all[0], 1);
    EXPECT_EQ(all[kResponseQueueCapacity - 2],
              static_cast<std::uint8_t>(kResponseQueueCapacity - 1));
    feed(MRaw(1, 1, true));
    EXPECT_EQ(queued().size(), 5u);
}

} // namespace
} // namespace kvr::engine::test
