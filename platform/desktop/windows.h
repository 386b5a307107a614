#pragma once
// Windows that other programs look for by class or title ("CAL3PT", "LINEAR", "RClick").
// A program registers the name while its window is open: the file
// $KVR_RUNTIME_DIR/windows/<name> with its pid, locked for as long as it is registered (so a
// crashed program's window is gone too). Others find the owner and send it
//   "destroy"        = SIGTERM: the program closes its window as on a destroy message;
//   "bring to front" = SIGUSR1: the program raises its window.
// A program that wants to act on them, rather than end at SIGTERM, turns them into messages
// with windowMessageFd()/readWindowMessage(). Names compare without regard to ASCII case.
// No call throws.

#include "platform/desktop/owned_name.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace kvr::desktop {

class WindowRegistration {
public:
    // Registers `name` for this process. Nothing when another live process (or another
    // registration of this one) has it, or the runtime folder cannot be used.
    static std::optional<WindowRegistration> create(std::string_view name);

    WindowRegistration(WindowRegistration&&) noexcept = default;
    WindowRegistration& operator=(WindowRegistration&&) noexcept = default;
    ~WindowRegistration() = default; // unregisters

    [[nodiscard]] const std::string& name() const { return name_; }

private:
    WindowRegistration() = default;
    std::string name_;
    detail::OwnedName owned_;
};

// The pid of the live program whose window has this name.
std::optional<pid_t> findWindow(std::string_view name);
// Sends the window "destroy" (SIGTERM). False when no such window exists.
bool sendDestroy(std::string_view name);
// Asks the window to come to the front (SIGUSR1). False when no such window exists.
bool bringToFront(std::string_view name);

enum class WindowMessage { Destroy, BringToFront };

// Catches SIGTERM and SIGUSR1 from now on and turns each into a message on a pipe; returns
// the pipe's non-blocking read end (for poll or a socket notifier), the same one at every
// call; -1 when it cannot be set up.
int windowMessageFd();
// The next message received, if any (never blocks).
std::optional<WindowMessage> readWindowMessage();

} // namespace kvr::desktop
