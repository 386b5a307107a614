#include "driver/core/pointer_delivery.h"

namespace kvr::driver {

// The engine's button flags are the mouse input record's, and so are the sink's.
static_assert(engine::kMouseLeftButtonDown == pointer::kLeftButtonDown);
static_assert(engine::kMouseLeftButtonUp == pointer::kLeftButtonUp);
static_assert(engine::kMouseRightButtonDown == pointer::kRightButtonDown);
static_assert(engine::kMouseRightButtonUp == pointer::kRightButtonUp);

void SinkClassService::deliver(const engine::MouseInputData& record) {
    sink_->deliver(record.lastX, record.lastY, record.buttonFlags);
}

void SinkClassService::setDesktop(const PointerDesktop& d) {
    sink_->setDesktop({d.left, d.top, d.right, d.bottom});
}

} // namespace kvr::driver
