#include "utilities/rclick/right_click.h"

#include "tsapi/tsapi.h"

#include <cstdint>

namespace kvr::rclick {

const RightClickCalls& libraryRightClickCalls() {
    static constexpr RightClickCalls kExports{
        .listControllers = GetExistControllers,
        .armRightClick = SetManualRightClick,
        .setUsedUpEvent = SetManualRightEvent,
    };
    return kExports;
}

RightClickArming::RightClickArming(const RightClickCalls& calls)
    : calls_(&calls), usedUp_(ipc::Event::create()) {}

bool RightClickArming::arm() {
    if (calls_->listControllers() == 0) return false;
    if (calls_->armRightClick(1) != 1) return false;
    if (usedUp_ && !eventGiven_) {
        // Handed over once the drivers are open (the arming opened them).
        eventGiven_ = calls_->setUsedUpEvent(
                          reinterpret_cast<void*>(static_cast<std::intptr_t>(usedUp_->fd()))) == 1;
    }
    return true;
}

void RightClickArming::takeUsedUp() {
    if (usedUp_) usedUp_->reset();
}

} // namespace kvr::rclick
