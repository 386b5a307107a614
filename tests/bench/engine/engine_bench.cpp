// Bytes per second through decode -> calibrate -> report mode -> a null delivery, for M and
// E streams of realistic touches, read in chunks as the read loop hands them over. Also
// counts heap allocations made while the stream is processed (expected: none).
#include "engine/engine.h"
#include "tests/bench/engine/alloc_counter.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {

using namespace kvr::engine;

class NullSink : public PointerPort, public EventSignaller {
public:
    bool connected() const override { return true; }
    void deliver(const MouseInputData& r) override { benchmark::DoNotOptimize(r); }
    void setEvent(EventRef e) override { benchmark::DoNotOptimize(e); }
};

constexpr int kSamplesPerTouch = 60; // about half a second of touch at 120 reports/s

void AppendM(std::vector<std::uint8_t>& s, int x12, int y12, bool pen) {
    const int x = x12 * 4, y = y12 * 4;
    s.insert(s.end(), {static_cast<std::uint8_t>(0x90 | (pen ? 0x40 : 0)),
                       static_cast<std::uint8_t>(x & 0x7F), static_cast<std::uint8_t>(x >> 7),
                       static_cast<std::uint8_t>(y & 0x7F), static_cast<std::uint8_t>(y >> 7)});
}

void AppendE(std::vector<std::uint8_t>& s, int x, int y, bool pen) {
    s.insert(s.end(), {0x55, 0x54, static_cast<std::uint8_t>(pen ? 0x81 : 0x84),
                       static_cast<std::uint8_t>(x & 0xFF), static_cast<std::uint8_t>(x >> 8),
                       static_cast<std::uint8_t>(y & 0xFF), static_cast<std::uint8_t>(y >> 8), 0x00,
                       0x00, 0x3C});
}

// Touches that drag across the panel, each ended by a pen-up packet.
std::vector<std::uint8_t> Stream(bool e, int touches) {
    std::vector<std::uint8_t> s;
    for (int t = 0; t < touches; ++t) {
        const int x0 = (t * 397) % 3500 + 200, y0 = (t * 211) % 3500 + 200;
        for (int i = 0; i < kSamplesPerTouch; ++i) {
            const int x = x0 + i * 3, y = y0 + (i * 5) % 40;
            e ? AppendE(s, x, y, true) : AppendM(s, x, y, true);
        }
        e ? AppendE(s, x0, y0, false) : AppendM(s, x0, y0, false);
    }
    return s;
}

void Run(benchmark::State& state, bool e, std::uint8_t reportMode) {
    static NullSink sink;
    static ControlExtension ext; // large; keep it off the benchmark's stack
    ext.Pointer.Port = &sink;
    ext.Signaller = &sink;
    ext.GlobalDownEvent = 1;
    Rs232Device& d = ext.Devices[0];
    d.PacketFormat = e ? kPacketFormatE : kPacketFormatM;
    d.ReportMode = reportMode;
    d.Rotation = 1;
    d.DownEventRegistered = d.UpEventRegistered = 1;
    d.DownSound = d.UpSound = 1;
    d.DownEvent = 2;
    d.UpEvent = 3;
    StoreCalibration(d, CalibrationSet{150, 140, 3950, 3960, 3940, 120, 3968, 128});
    const std::vector<std::uint8_t> stream = Stream(e, 64);
    const std::size_t packetBytes = e ? 10 : 5;
    const std::size_t chunk = static_cast<std::size_t>(state.range(0));

    const std::uint64_t allocBefore = kvr::bench::AllocationCount();
    for (auto _ : state) {
        for (std::size_t i = 0; i < stream.size(); i += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - i);
            DecodeChunk(d, stream.data() + i, n);
        }
        {
            std::lock_guard g(ext.Lock);
            ext.LastDownDevice = ext.LastUpDevice = kNoDevice;
        }
    }
    const std::uint64_t allocations = kvr::bench::AllocationCount() - allocBefore;
    const double packets =
        static_cast<double>(state.iterations()) * static_cast<double>(stream.size() / packetBytes);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(stream.size()));
    state.counters["packets/s"] = benchmark::Counter(packets, benchmark::Counter::kIsRate);
    state.counters["allocs/packet"] = static_cast<double>(allocations) / packets;
}

void BM_MStreamDrawing(benchmark::State& s) {
    Run(s, false, kReportModeDrawing);
}
void BM_MStreamDesktop(benchmark::State& s) {
    Run(s, false, kReportModeDesktop);
}
void BM_MStreamButton(benchmark::State& s) {
    Run(s, false, kReportModeButton);
}
void BM_EStreamDrawing(benchmark::State& s) {
    Run(s, true, kReportModeDrawing);
}
void BM_EStreamDesktop(benchmark::State& s) {
    Run(s, true, kReportModeDesktop);
}

// 255 bytes is the read loop's buffer; 16 is a typical short read at low baud rates.
BENCHMARK(BM_MStreamDrawing)->Arg(255)->Arg(16);
BENCHMARK(BM_MStreamDesktop)->Arg(255);
BENCHMARK(BM_MStreamButton)->Arg(255);
BENCHMARK(BM_EStreamDrawing)->Arg(255)->Arg(16);
BENCHMARK(BM_EStreamDesktop)->Arg(255);

} // namespace

BENCHMARK_MAIN();
