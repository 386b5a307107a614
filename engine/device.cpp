#include "engine/device.h"

namespace kvr::engine {

ControlExtension::ControlExtension() {
    for (std::size_t i = 0; i < Devices.size(); ++i) {
        Devices[i].Extension = this;
        Devices[i].DeviceIndex = static_cast<std::uint8_t>(i);
    }
}

void SetEngineEvent(const ControlExtension& ext, EventRef event) {
    if (event != kNoEvent && ext.Signaller != nullptr) {
        ext.Signaller->setEvent(event);
    }
}

} // namespace kvr::engine
