#pragma once
// The pointer class driver of this system: the pointer sink the daemon opened at load,
// connected to the pointer-port device as its class service. Each mouse input record the
// report modes deliver becomes one absolute sample of the sink.

#include "driver/control/context.h"
#include "platform/pointer/pointer.h"

#include <memory>

namespace kvr::driver {

class SinkClassService final : public PointerClassService {
public:
    explicit SinkClassService(std::unique_ptr<pointer::Sink> sink) : sink_(std::move(sink)) {}
    void deliver(const engine::MouseInputData& record) override;
    void setDesktop(const PointerDesktop& desktop) override;
    [[nodiscard]] pointer::Sink& sink() { return *sink_; }

private:
    std::unique_ptr<pointer::Sink> sink_;
};

} // namespace kvr::driver
