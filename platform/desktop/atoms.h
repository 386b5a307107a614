#pragma once
// Global atoms: names that one process holds and every process can look up, e.g. the single
// instance marks "Lumarcon01" and "portscan". Each is the file $KVR_RUNTIME_DIR/atoms/<name>,
// locked by its owner; the atom disappears when the owner deletes it or dies. Names compare
// without regard to ASCII case. No call throws.

#include "platform/desktop/owned_name.h"

#include <optional>
#include <string>
#include <string_view>

namespace kvr::desktop {

enum class AtomAddResult {
    Added,
    HeldElsewhere, // another live process (or another GlobalAtom of this one) holds it
    Failed,        // bad name, or the runtime folder cannot be used
};

class GlobalAtom {
public:
    // Adds the atom for this process. Unlike Windows there is no reference count: a second
    // add of a held name reports HeldElsewhere, which makes find-then-add free of races when
    // the add alone decides.
    static std::optional<GlobalAtom> add(std::string_view name, AtomAddResult* result = nullptr);

    GlobalAtom(GlobalAtom&&) noexcept = default;
    GlobalAtom& operator=(GlobalAtom&&) noexcept = default;
    ~GlobalAtom() = default; // deletes the atom

    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] bool held() const { return owned_.held(); }
    // Deletes the atom now (the destructor then does nothing).
    void remove() { owned_.release(); }

private:
    GlobalAtom() = default;
    std::string name_;
    detail::OwnedName owned_;
};

// True while a live process holds the atom.
bool findAtom(std::string_view name);

} // namespace kvr::desktop
