#include "engine/report_modes.h"

#include "engine/pipeline.h"

namespace kvr::engine {
namespace {

// The modes run with the device lock held (the caller's) and take the driver-wide lock for
// their whole run: the manual right click, the notification slots and the event references
// are read and changed as one step, and the pointer-port lock nests inside it for delivery.
class ModeContext {
public:
    explicit ModeContext(Rs232Device& d) : d_(d), ext_(*d.Extension), guard_(ext_.Lock) {}

    void deliver(const MouseInputData& sample) {
        d_.LastPointer = ScreenPoint{sample.lastX, sample.lastY};
        std::lock_guard guard(ext_.Pointer.Lock);
        ext_.Pointer.Port->deliver(sample);
    }
    // The driver-wide notification names one device and stays quiet until it is read.
    void downNotification() {
        if (ext_.LastDownDevice == kNoDevice && ext_.GlobalDownEvent != kNoEvent) {
            ext_.LastDownDevice = d_.DeviceIndex;
            SetEngineEvent(ext_, ext_.GlobalDownEvent);
        }
    }
    void upNotification() {
        if (ext_.LastUpDevice == kNoDevice && ext_.GlobalUpEvent != kNoEvent) {
            ext_.LastUpDevice = d_.DeviceIndex;
            SetEngineEvent(ext_, ext_.GlobalUpEvent);
        }
    }
    void downSound() {
        if (d_.DownEventRegistered != 0 && d_.DownSound == 1) {
            SetEngineEvent(ext_, d_.DownEvent);
        }
    }
    void upSound() {
        if (d_.UpEventRegistered != 0 && d_.UpSound == 1) {
            SetEngineEvent(ext_, d_.UpEvent);
        }
    }
    bool manualRightClick() const { return ext_.ManualRightClick == 1; }
    // A press made under the manual right click has been released: report it, and clear it.
    void endManualRightClick() {
        if (ext_.ManualRightClick == 1) {
            SetEngineEvent(ext_, ext_.ManualRightEvent);
        }
        ext_.ManualRightClick = 0;
    }

private:
    Rs232Device& d_;
    ControlExtension& ext_;
    std::lock_guard<std::mutex> guard_;
};

// Until the pointer class callback is connected nothing happens at all: no delivery, no
// field change, no event.
bool PointerConnected(const Rs232Device& d) {
    if (d.Extension == nullptr) {
        return false;
    }
    const PointerPort* port = d.Extension->Pointer.Port;
    return port != nullptr && port->connected();
}

void DrawingModeBody(ModeContext& m, Rs232Device& d, MouseInputData& sample, bool penDown,
                     bool right) {
    if (penDown) {
        m.downNotification();
        if (right) {
            if (d.RightPressed == 0) {
                sample.buttonFlags = kMouseRightButtonDown;
                d.RightPressed = 1;
                m.downSound();
            } else {
                // A held side button gives one press followed by releases.
                sample.buttonFlags = kMouseRightButtonUp;
            }
        } else if (m.manualRightClick()) {
            if (d.RightPressed == 0) {
                sample.buttonFlags = kMouseRightButtonDown;
                d.RightPressed = 1;
                m.downSound();
            } else {
                sample.buttonFlags = 0;
            }
        } else if (d.LeftPressed == 0) {
            sample.buttonFlags = kMouseLeftButtonDown;
            d.LeftPressed = 1;
            m.downSound();
        } else {
            sample.buttonFlags = 0;
        }
        m.deliver(sample);
        return;
    }
    m.upNotification();
    if (d.RightPressed == 1) {
        sample.buttonFlags = kMouseRightButtonUp;
        m.endManualRightClick();
    } else {
        sample.buttonFlags = kMouseLeftButtonUp;
    }
    d.RightPressed = 0;
    d.LeftPressed = 0;
    m.upSound();
    m.deliver(sample);
}

void DesktopModeBody(ModeContext& m, Rs232Device& d, MouseInputData& sample, bool penDown,
                     bool right) {
    // A touch only moves the pointer until its eleventh sample, so a tap does not click.
    constexpr std::uint8_t kSamplesBeforePress = 10;
    if (penDown) {
        m.downNotification();
        if (right) {
            if (d.RightPressed == 1) {
                sample.buttonFlags = kMouseRightButtonUp;
            } else {
                sample.buttonFlags = kMouseRightButtonDown;
                d.RightPressed = 1;
                m.downSound();
            }
        } else if (m.manualRightClick()) {
            if (d.RightPressed == 1) {
                sample.buttonFlags = 0;
            } else {
                sample.buttonFlags = kMouseRightButtonDown;
                d.RightPressed = 1;
                m.downSound();
            }
        } else if (d.LeftPressed == 1) {
            sample.buttonFlags = 0;
        } else if (d.DownSamples == kSamplesBeforePress) {
            sample.buttonFlags = kMouseLeftButtonDown;
            m.downSound();
            d.LeftPressed = 1;
            d.DownSamples = kSamplesBeforePress + 1;
        } else {
            sample.buttonFlags = 0;
            ++d.DownSamples;
        }
        m.deliver(sample);
        return;
    }
    m.upNotification();
    if (d.RightPressed == 1) {
        sample.buttonFlags = kMouseRightButtonUp;
        m.endManualRightClick();
        m.upSound();
    } else if (d.DownSamples >= kSamplesBeforePress) {
        sample.buttonFlags = kMouseLeftButtonUp;
        m.upSound();
    } else {
        sample.buttonFlags = 0; // a tap: the pointer moved, nothing was clicked
    }
    d.RightPressed = 0;
    d.LeftPressed = 0;
    d.DownSamples = 0;
    m.deliver(sample);
}

void ButtonModeBody(ModeContext& m, MouseInputData& sample) {
    const bool manual = m.manualRightClick();
    sample.buttonFlags = manual ? kMouseRightButtonDown : kMouseLeftButtonDown;
    m.downNotification();
    m.downSound();
    m.deliver(sample);
    m.upSound();
    sample.buttonFlags = manual ? kMouseRightButtonUp : kMouseLeftButtonUp;
    m.endManualRightClick();
    m.upNotification();
    m.deliver(sample);
}

void Dispatch(ModeContext& m, Rs232Device& d, MouseInputData& sample, bool penDown, bool right) {
    switch (d.ReportMode) {
    case kReportModeDesktop:
        DesktopModeBody(m, d, sample, penDown, right);
        break;
    case kReportModeButton:
        ButtonModeBody(m, sample);
        break;
    default:
        DrawingModeBody(m, d, sample, penDown, right);
        break;
    }
}

} // namespace

void ReleaseTouch(Rs232Device& d) {
    const bool left = d.LeftPressed == 1;
    const bool right = d.RightPressed == 1;
    // Desktop mode counts the samples of a touch before it presses.
    const bool touching = left || right || d.DownSamples != 0;
    d.LeftPressed = 0;
    d.RightPressed = 0;
    d.DownSamples = 0;
    if (!touching || !PointerConnected(d)) {
        return;
    }
    ModeContext m(d);
    MouseInputData sample;
    sample.flags = kMouseMoveAbsolute;
    sample.lastX = d.LastPointer.x;
    sample.lastY = d.LastPointer.y;
    m.upNotification();
    if (right) {
        sample.buttonFlags |= kMouseRightButtonUp;
        m.endManualRightClick();
    }
    if (left) {
        sample.buttonFlags |= kMouseLeftButtonUp;
    }
    if (sample.buttonFlags != 0) {
        m.deliver(sample);
    }
}

void UDrawingModeFunc(Rs232Device& d, MouseInputData& sample, bool penDown, bool right) {
    if (!PointerConnected(d)) {
        return;
    }
    ModeContext m(d);
    DrawingModeBody(m, d, sample, penDown, right);
}

void UDesktopModeFunc(Rs232Device& d, MouseInputData& sample, bool penDown, bool right) {
    if (!PointerConnected(d)) {
        return;
    }
    ModeContext m(d);
    DesktopModeBody(m, d, sample, penDown, right);
}

void ButtonModeFunc(Rs232Device& d, MouseInputData& sample) {
    if (!PointerConnected(d)) {
        return;
    }
    ModeContext m(d);
    ButtonModeBody(m, sample);
}

void ReportSample(Rs232Device& d, MouseInputData& sample, bool penDown, bool right) {
    if (!PointerConnected(d)) {
        return;
    }
    ModeContext m(d);
    Dispatch(m, d, sample, penDown, right);
}

void ReportInPartition(Rs232Device& d, std::int64_t x12, std::int64_t y12, bool penDown,
                       bool right) {
    if (!PointerConnected(d)) {
        return;
    }
    // One hold of the driver-wide lock covers reading the partition entry and the mode.
    ModeContext m(d);
    const ControlExtension& ext = *d.Extension;
    // DisplayIndex only ever holds 0..3; an index past the table reports into entry 0
    // rather than reading beyond it.
    const std::size_t k = d.DisplayIndex < kDisplayPartitionCount ? d.DisplayIndex : 0;
    const ScreenPoint pointer = MapToPartition(ext.DisplayPartition[k], Coord12{x12, y12});
    MouseInputData sample;
    sample.unitId = 0;
    sample.flags = kMouseMoveAbsolute;
    sample.lastX = pointer.x;
    sample.lastY = pointer.y;
    Dispatch(m, d, sample, penDown, right);
}

} // namespace kvr::engine
