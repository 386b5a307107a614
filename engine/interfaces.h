#pragma once
// The two doors through which the engine reaches the outside: the pointer class callback
// (one absolute sample at a time) and the setting of an event. The driver fills them in;
// the engine does no I/O of its own.

#include <cstdint>

namespace kvr::engine {

// Opaque reference to an event that the driver can set. The engine only stores references
// and hands them back to EventSignaller::setEvent; 0 means "none".
using EventRef = std::uintptr_t;
inline constexpr EventRef kNoEvent = 0;

// The pointer class driver's mouse input record (MOUSE_INPUT_DATA), field for field.
struct MouseInputData {
    std::uint16_t unitId = 0;
    std::uint16_t flags = 0;       // kMouseMoveAbsolute for every sample of the engine
    std::uint16_t buttonFlags = 0; // one of the kMouse*Button* values, or 0 for a move
    std::uint16_t buttonData = 0;
    std::uint32_t rawButtons = 0;
    std::int32_t lastX = 0; // pointer units, 0..65535 spans one display partition entry
    std::int32_t lastY = 0;
    std::uint32_t extraInformation = 0;
};
static_assert(sizeof(MouseInputData) == 24, "mouse input record is 24 bytes");

inline constexpr std::uint16_t kMouseMoveAbsolute = 0x0001;
inline constexpr std::uint16_t kMouseLeftButtonDown = 0x0001;  // MOUSE_LEFT_BUTTON_DOWN
inline constexpr std::uint16_t kMouseLeftButtonUp = 0x0002;    // MOUSE_LEFT_BUTTON_UP
inline constexpr std::uint16_t kMouseRightButtonDown = 0x0004; // MOUSE_RIGHT_BUTTON_DOWN
inline constexpr std::uint16_t kMouseRightButtonUp = 0x0008;   // MOUSE_RIGHT_BUTTON_UP

// The connected pointer class callback. connected() is read without any lock (the driver
// keeps it in an atomic); deliver() is called with the pointer-port lock held, one record per
// call, and must not block for long (it runs on a device's read path).
class PointerPort {
public:
    virtual ~PointerPort() = default;
    virtual bool connected() const = 0;
    virtual void deliver(const MouseInputData& record) = 0;
};

// Sets an event that the driver handed to the engine as an EventRef. Called with the device
// lock (and possibly the driver-wide lock) held: it must only set, never wait.
class EventSignaller {
public:
    virtual ~EventSignaller() = default;
    virtual void setEvent(EventRef event) = 0;
};

} // namespace kvr::engine
