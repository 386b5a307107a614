#pragma once
// Pointer sinks: where the driver's absolute pointer samples go (the stand-in for the pointer
// class driver's connect callback).
//
// A sample is one absolute position in pointer units plus the button flags of the mouse input
// record. Pointer units: 0..65535 spans the primary display's width (height); values beyond
// continue at the same scale onto the displays laid out around it (negative to the left/top).
//
// Kinds:
//   uinput  one absolute pointer device (ABS_X/ABS_Y 0..65535, BTN_LEFT, BTN_RIGHT) made
//           through /dev/uinput. Its range spans the whole desktop (setDesktop), as X and the
//           Wayland compositors (GNOME's, KDE's) map an absolute pointer device onto every
//           monitor at once; weston maps one onto a single output (its udev WL_OUTPUT).
//   xtest   fake motion and button events on the X server in DISPLAY (libX11/libXtst bound at
//           run time), pointer units turned into root-window pixels by pointerToPixel against
//           pointerSpanOnScreen. One sender thread talks to the server: deliver() only queues.
//           When the server goes away the sink waits for one on the same display again.
//   trace   one text line per sample, "<steady-clock microseconds> <x> <y> <button flags>\n"
//           (decimal), written with one write() each, to a file (appended), a Unix socket or
//           "-" (standard output).
//   none    drops every sample.
//   auto    uinput when /dev/uinput opens, else xtest when DISPLAY is set (at once when its
//           server answers, else as soon as one does), else none.
//
// Every sink may be called from several threads at once. deliver() never throws and never
// blocks for long: a sink that lost its device, server or reader drops samples (and says so
// once in the log).

#include "platform/common/unique_fd.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::pointer {

// Button flags of the mouse input record (16-bit, several may be set in one record).
enum ButtonFlag : uint16_t {
    kLeftButtonDown = 0x0001,
    kLeftButtonUp = 0x0002,
    kRightButtonDown = 0x0004,
    kRightButtonUp = 0x0008,
};

// The pointer-unit value that reaches the far edge of the primary display.
constexpr int32_t kPointerUnitsMax = 65535;

// A rectangle of the pointer space in pointer units, right and bottom exclusive. The default
// is the primary display alone.
struct PointerArea {
    int32_t left = 0, top = 0, right = kPointerUnitsMax + 1, bottom = kPointerUnitsMax + 1;
    bool operator==(const PointerArea&) const = default;
};

class Sink {
public:
    virtual ~Sink() = default;
    // One absolute sample. Thread-safe.
    virtual void deliver(int32_t pointerX, int32_t pointerY, uint16_t buttonFlags) = 0;
    // "uinput", "xtest", "trace" or "none": what was opened (useful after "auto").
    virtual const char* kind() const = 0;
    // The desktop: the area around every display the pointer may reach. A sink whose device
    // spans the desktop (uinput) maps pointer units onto it; the others place samples by
    // pointer units alone and ignore it. Thread-safe.
    virtual void setDesktop(const PointerArea&) {}
};

// Opens a sink of the given kind (auto|uinput|xtest|trace|none). `traceTarget` is the file,
// socket or "-" for kind "trace" (ignored otherwise). On failure returns nullptr with a
// one-line reason in `error`.
std::unique_ptr<Sink> openSink(std::string_view kind, const std::string& traceTarget,
                               std::string& error);

// The single kinds, for callers and tests that want one of them in particular.
std::unique_ptr<Sink> openNullSink();
std::unique_ptr<Sink> openTraceSink(const std::string& target, std::string& error);
// `devicePath` defaults to /dev/uinput.
std::unique_ptr<Sink> openUinputSink(std::string& error,
                                     const std::string& devicePath = "/dev/uinput");
// `displayName` nullptr: the DISPLAY of the environment. ServerNow fails when no server answers
// at once; WhenServerComes gives a sink that starts delivering once one does (it fails only
// without a display name or without the X libraries).
enum class XTestStart { ServerNow, WhenServerComes };
std::unique_ptr<Sink> openXTestSink(std::string& error, const char* displayName = nullptr,
                                    XTestStart start = XTestStart::ServerNow);

// The uinput event writer without the device set-up: writes the `input_event` records of each
// sample to `fd` (a pipe in tests). Per sample: ABS_X, ABS_Y (the desktop's share of the
// device's 0..65535, clamped), the button
// changes, SYN_REPORT; a button pressed and released in one record gets a second frame for the
// release so that the click is not folded away.
std::unique_ptr<Sink> makeUinputWriter(UniqueFd fd);

// Pointer units on one axis to a pixel on that axis, given the primary display's origin and
// size in pixels: origin + floor(pointer * size / 65536), so 0..65535 covers exactly the
// primary display's pixels and values beyond step on at the same scale.
int32_t pointerToPixel(int32_t pointer, int32_t primaryOriginPx, int32_t primarySizePx);

// The size in pixels that 0..65535 pointer units span on an X screen, counted from the root
// window's origin as the touch library lays its display table out: the monitor at (0, 0), else
// the primary monitor, else the first, else the whole screen.
struct MonitorBox {
    int32_t leftPx = 0, topPx = 0, widthPx = 0, heightPx = 0;
    bool primary = false;
};
struct PointerSpan {
    int32_t widthPx = 1, heightPx = 1;
};
PointerSpan pointerSpanOnScreen(const std::vector<MonitorBox>& monitors, int32_t screenWidthPx,
                                int32_t screenHeightPx);

} // namespace kvr::pointer
