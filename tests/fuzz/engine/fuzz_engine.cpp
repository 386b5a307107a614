// Arbitrary bytes, with arbitrary settings, through both decoders and everything behind them
// (capture, coordinate pipeline, report modes, response queue).
#include "engine/engine.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <vector>

namespace {

using namespace kvr::engine;

class NullSink : public PointerPort, public EventSignaller {
public:
    bool connected() const override { return true; }
    void deliver(const MouseInputData& r) override { lastX_ ^= r.lastX; }
    void setEvent(EventRef e) override { events_ += e; }

private:
    std::int32_t lastX_ = 0;
    EventRef events_ = 0;
};

void ApplySettings(FuzzedDataProvider& in, ControlExtension& ext, Rs232Device& d) {
    d.PacketFormat = in.ConsumeIntegral<std::uint8_t>();
    d.ReportMode = in.ConsumeIntegral<std::uint8_t>();
    d.Rotation = in.ConsumeIntegral<std::uint8_t>();
    d.DisableReport = in.ConsumeIntegral<std::uint8_t>() & 1;
    d.RightStatus = in.ConsumeIntegral<std::uint8_t>() & 1;
    d.DisplayIndex = in.ConsumeIntegral<std::uint8_t>();
    d.ExpandUp = in.ConsumeIntegral<std::uint16_t>();
    d.ExpandDown = in.ConsumeIntegral<std::uint16_t>();
    d.ExpandLeft = in.ConsumeIntegral<std::uint16_t>();
    d.ExpandRight = in.ConsumeIntegral<std::uint16_t>();
    d.CP1X = in.ConsumeIntegral<std::int32_t>();
    d.CP1Y = in.ConsumeIntegral<std::int32_t>();
    d.CP2X = in.ConsumeIntegral<std::int32_t>();
    d.CP2Y = in.ConsumeIntegral<std::int32_t>();
    d.CP3X = in.ConsumeIntegral<std::int32_t>();
    d.CP3Y = in.ConsumeIntegral<std::int32_t>();
    d.BPX = in.ConsumeIntegral<std::int32_t>();
    d.BPY = in.ConsumeIntegral<std::int32_t>();
    d.CaptureActive = in.ConsumeIntegral<std::uint8_t>() & 1;
    d.CaptureKind = in.ConsumeIntegral<std::uint8_t>();
    d.CaptureIndex = in.ConsumeIntegral<std::uint8_t>();
    d.SampleCount = in.ConsumeIntegral<std::uint8_t>();
    d.DownEventRegistered = d.UpEventRegistered = 1;
    d.DownSound = d.UpSound = 1;
    d.DownEvent = 1;
    d.UpEvent = 2;
    d.ReinitEvent = 3;
    const std::size_t k = in.ConsumeIntegralInRange<std::size_t>(0, kDisplayPartitionCount - 1);
    ext.DisplayPartition[k].originX = in.ConsumeIntegral<std::int32_t>();
    ext.DisplayPartition[k].originY = in.ConsumeIntegral<std::int32_t>();
    ext.DisplayPartition[k].extentX = in.ConsumeIntegral<std::int32_t>();
    ext.DisplayPartition[k].extentY = in.ConsumeIntegral<std::int32_t>();
    ext.ManualRightClick = in.ConsumeIntegral<std::uint8_t>() & 1;
    ext.TouchSearchArmed = in.ConsumeIntegral<std::uint8_t>() & 1;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    static NullSink sink;
    ControlExtension ext;
    ext.Pointer.Port = &sink;
    ext.Signaller = &sink;
    ext.GlobalDownEvent = 4;
    ext.GlobalUpEvent = 5;
    ext.ManualRightEvent = 6;
    Rs232Device& m = ext.Devices[0];
    Rs232Device& e = ext.Devices[1];
    ApplySettings(in, ext, m);
    ApplySettings(in, ext, e);
    e.PacketFormat = kPacketFormatE;
    std::vector<std::uint8_t> out(512);
    while (in.remaining_bytes() > 0) {
        const std::uint8_t op = in.ConsumeIntegral<std::uint8_t>();
        const std::size_t len = in.ConsumeIntegralInRange<std::size_t>(0, kReadBufferBytes);
        const std::vector<std::uint8_t> chunk = in.ConsumeBytes<std::uint8_t>(len);
        Rs232Device& d = (op & 1) ? e : m;
        if (op & 0x02) {
            // The same bytes through the other decoder: a format change between chunks.
            d.PacketFormat = (d.PacketFormat == kPacketFormatE) ? kPacketFormatM : kPacketFormatE;
        }
        if (op & 0x04) {
            std::copy(chunk.begin(), chunk.end(), d.ReadBuffer);
            DecodeReadBuffer(d, chunk.size());
        } else {
            DecodeChunk(d, chunk.data(), chunk.size());
        }
        if (op & 0x08) {
            ReadQueueData(d, out.data(), op % 64);
        }
        if (op & 0x10) {
            std::lock_guard g(ext.Lock);
            ext.LastDownDevice = ext.LastUpDevice = kNoDevice;
        }
        for (const Rs232Device* x : {&m, &e}) {
            Check(x->PacketIndex < kPacketBytes);
            Check(x->ReplyMode == 0 || x->ReplyMode == 1 || x->ReplyMode == 3);
            Check(x->ResponseQueue.count() <= kResponseQueueCapacity);
        }
    }
    return 0;
}
