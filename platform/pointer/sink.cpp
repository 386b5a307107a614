// Sink selection, the null sink and the pointer-unit to pixel rule.

#include "platform/common/log.h"
#include "platform/pointer/pointer.h"

namespace kvr::pointer {

namespace {

class NullSink final : public Sink {
public:
    void deliver(int32_t, int32_t, uint16_t) override {}
    const char* kind() const override { return "none"; }
};

} // namespace

std::unique_ptr<Sink> openNullSink() {
    return std::make_unique<NullSink>();
}

std::unique_ptr<Sink> openSink(std::string_view kind, const std::string& traceTarget,
                               std::string& error) {
    error.clear();
    if (kind == "none") return openNullSink();
    if (kind == "trace") {
        if (traceTarget.empty()) {
            error = "the trace pointer sink needs a target (a file, a Unix socket or -)";
            return nullptr;
        }
        return openTraceSink(traceTarget, error);
    }
    if (kind == "uinput") return openUinputSink(error);
    if (kind == "xtest") return openXTestSink(error);
    if (kind == "auto") {
        // The first sink that works on this machine: uinput reaches every desktop (X11 or
        // Wayland) and the console; XTest needs an X session the daemon may talk to, which
        // may start after the daemon.
        std::string why;
        if (auto sink = openUinputSink(why)) return sink;
        KVR_LOG_DEBUG("pointer: auto: no uinput (%s)", why.c_str());
        if (auto sink = openXTestSink(why, nullptr, XTestStart::WhenServerComes)) return sink;
        KVR_LOG_DEBUG("pointer: auto: no XTest (%s)", why.c_str());
        KVR_LOG_WARN("pointer: no uinput device and no X display: pointer samples are dropped "
                     "(--pointer=trace --trace=FILE shows them)");
        return openNullSink();
    }
    error = "unknown pointer sink '" + std::string(kind) + "' (auto, uinput, xtest, trace, none)";
    return nullptr;
}

int32_t pointerToPixel(int32_t pointer, int32_t primaryOriginPx, int32_t primarySizePx) {
    // Floor division, so that negative pointer units (displays left of or above the primary)
    // land on the pixel they are in and not one closer to the primary.
    const int64_t scaled = static_cast<int64_t>(pointer) * primarySizePx;
    int64_t px = scaled / 65536;
    if (scaled % 65536 != 0 && scaled < 0) --px;
    px += primaryOriginPx;
    if (px > INT32_MAX) return INT32_MAX;
    if (px < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(px);
}

} // namespace kvr::pointer
