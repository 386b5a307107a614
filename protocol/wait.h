#pragma once
// The programs' fixed waits between writing a command and reading its reply.
//
// A window program must stay responsive while it waits, so the wait hands control to the
// program's event pump between short sleeps; other handlers may then run (and even start a
// wait of their own) before this one ends. Time is measured on the steady clock, so a wait
// lasts its n ms even when it spans midnight or the time of day is changed meanwhile.

#include <chrono>
#include <cstdint>
#include <functional>

namespace kvr::protocol {

// Processes the pending window events and returns without blocking for new ones.
using EventPump = std::function<void()>;

// How long the wait sleeps between two runs of the event pump: short enough that a click is
// handled without a noticeable delay, long enough that a waiting window costs no CPU.
inline constexpr std::chrono::milliseconds kEventPumpInterval{10};

// Installs the process-wide event pump (an empty function removes it). A Qt program sets it
// once at start to run QCoreApplication::processEvents().
void setEventPump(EventPump pump);

// Returns once at least `milliseconds` have passed. With an event pump installed it runs the
// pump about every kEventPumpInterval; without one it just sleeps. 0 returns at once.
void WaitMilliseconds(std::uint16_t milliseconds);
// The same with a given pump instead of the process-wide one (an empty one: plain sleep).
void WaitMilliseconds(std::uint16_t milliseconds, const EventPump& pump);

} // namespace kvr::protocol
