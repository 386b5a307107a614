#include "platform/pointer/pointer.h"

namespace kvr::pointer {

namespace {
class NullSink final : public Sink {
public:
    void deliver(int32_t, int32_t, uint16_t) override {}
    const char* kind() const override { return "none"; }
};
} // namespace

std::unique_ptr<Sink> openNullSink() { return std::make_unique<NullSink>(); }
std::unique_ptr<Sink> openSink(std::string_view, const std::string&, std::string&) {
    return openNullSink();
}
std::unique_ptr<Sink> openTraceSink(const std::string&, std::string& error) {
    error = "not built yet";
    return nullptr;
}
std::unique_ptr<Sink> openUinputSink(std::string& error, const std::string&) {
    error = "not built yet";
    return nullptr;
}
std::unique_ptr<Sink> openXTestSink(std::string& error, const char*) {
    error = "not built yet";
    return nullptr;
}
std::unique_ptr<Sink> makeUinputWriter(UniqueFd) { return openNullSink(); }
int32_t pointerToPixel(int32_t pointer, int32_t originPx, int32_t sizePx) {
    return originPx + static_cast<int32_t>(static_cast<int64_t>(pointer) * sizePx / 65536);
}

} // namespace kvr::pointer
