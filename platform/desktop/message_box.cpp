#include "platform/desktop/message_box.h"

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <vector>

namespace kvr::desktop {
namespace {

std::mutex g_hookLock;
std::shared_ptr<const MessageBoxHook> g_hook; // empty: the default

std::vector<int> buttonsOf(uint32_t type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
        return {IDOK};
    }
}

} // namespace

int defaultButtonResult(uint32_t type) {
    const auto buttons = buttonsOf(type);
    const std::size_t index = (type & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons.front();
}

void setMessageBoxHook(MessageBoxHook hook) {
    std::shared_ptr<const MessageBoxHook> next;
    if (hook) next = std::make_shared<const MessageBoxHook>(std::move(hook));
    std::lock_guard lock(g_hookLock);
    g_hook = std::move(next);
}

namespace {

// Shows a box with this copy's hook (or the console default).
int showWithOwnHook(std::string_view text, std::string_view caption, uint32_t type) {
    std::shared_ptr<const MessageBoxHook> hook;
    {
        std::lock_guard lock(g_hookLock);
        hook = g_hook;
    }
    const int fallback = defaultButtonResult(type);
    if (!hook) {
        // A console program's box is a message on stderr, named as every message is; a text
        // that ends its last line adds no empty one.
        if (text.ends_with('\n')) text.remove_suffix(1);
        std::fprintf(stderr, "%s: %.*s: %.*s\n", program_invocation_short_name,
                     static_cast<int>(caption.size()), caption.data(),
                     static_cast<int>(text.size()), text.data());
        return fallback;
    }
    try {
        // The hook runs without the lock held: it may show a modal dialog for a long time,
        // and may itself change the hook.
        const int result = (*hook)(text, caption, type);
        for (int b : buttonsOf(type))
            if (b == result) return result;
        return fallback;
    } catch (...) {
        return fallback;
    }
}

// The executable's entry point, when it has one that is not this copy's own.
ProcessMessageBox executableEntry() {
    static const ProcessMessageBox entry = []() -> ProcessMessageBox {
        void* self = ::dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
        if (self == nullptr) return nullptr;
        auto* found = reinterpret_cast<ProcessMessageBox>(::dlsym(self, kProcessMessageBoxSymbol));
        ::dlclose(self);
        return found == &kvr_desktop_message_box_v1 ? nullptr : found;
    }();
    return entry;
}

} // namespace

int messageBox(std::string_view text, std::string_view caption, uint32_t type) {
    if (const ProcessMessageBox entry = executableEntry()) {
        const int result = entry(text.data(), text.size(), caption.data(), caption.size(), type);
        for (int b : buttonsOf(type))
            if (b == result) return result;
        return defaultButtonResult(type);
    }
    return showWithOwnHook(text, caption, type);
}

} // namespace kvr::desktop

extern "C" int kvr_desktop_message_box_v1(const char* text, std::size_t textLength,
                                          const char* caption, std::size_t captionLength,
                                          uint32_t type) {
    try {
        return kvr::desktop::showWithOwnHook(std::string_view(text, textLength),
                                             std::string_view(caption, captionLength), type);
    } catch (...) {
        return kvr::desktop::defaultButtonResult(type);
    }
}
