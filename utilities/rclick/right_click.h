#pragma once
// What RClick's button does, apart from its window: arm the drivers for one right click on the
// next touch, and hand them, once, the event they set when that right click has been used up
// (the button then shows that nothing is armed any more).
//
// The library reaches only the drivers of the controllers it has listed in this process, so
// the list is taken again at every arming (a controller attached since the last press is
// included). The calls come through RightClickCalls: the program binds them to libtsapi and
// runs arm() on its library worker; tests bind them to a script.

#include "platform/ipc/event.h"

#include <cstdint>
#include <optional>

namespace kvr::rclick {

struct RightClickCalls {
    std::uint8_t (*listControllers)();           // GetExistControllers
    std::int32_t (*armRightClick)(std::int32_t); // SetManualRightClick
    std::int32_t (*setUsedUpEvent)(void*);       // SetManualRightEvent
};

// The exports of libtsapi.
const RightClickCalls& libraryRightClickCalls();

inline constexpr const char* kIdleText = "Right click";
inline constexpr const char* kArmedText = "Right click: touch now";

class RightClickArming {
public:
    explicit RightClickArming(const RightClickCalls& calls = libraryRightClickCalls());

    // Arms one right click. False when no controller is listed or the drivers refused; the
    // used-up event goes along with the first arming that succeeds.
    bool arm();
    // The event's descriptor, to watch for "used up" (-1 when none could be made).
    [[nodiscard]] int usedUpFd() const { return usedUp_ ? usedUp_->fd() : -1; }
    // The drivers set the event: take the signal, so the next one is seen.
    void takeUsedUp();
    [[nodiscard]] bool eventHandedOver() const { return eventGiven_; }

private:
    const RightClickCalls* calls_;
    std::optional<ipc::Event> usedUp_;
    bool eventGiven_ = false;
};

} // namespace kvr::rclick
