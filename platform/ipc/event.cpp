#include "platform/ipc/event.h"

namespace kvr::ipc {

std::optional<Event> Event::create(ResetMode) { return std::nullopt; }
std::optional<Event> Event::adopt(UniqueFd, std::uint32_t* status, ResetMode) {
    if (status) *status = status::kInvalidHandle;
    return std::nullopt;
}
void Event::set() const {}
void Event::reset() const {}
bool Event::isSet() const { return false; }
bool Event::wait(std::chrono::milliseconds) const { return false; }
bool Event::wait() const { return false; }
std::optional<Event> Event::duplicate() const { return std::nullopt; }
bool Event::consumeIfAuto() const { return true; }
bool isEventFd(int) { return false; }
int waitAny(std::span<const Event* const>, std::optional<std::chrono::milliseconds>) { return -1; }

} // namespace kvr::ipc
