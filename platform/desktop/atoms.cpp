#include "platform/desktop/atoms.h"

#include "platform/common/paths.h"

namespace kvr::desktop {
namespace {
std::filesystem::path atomDir() {
    return kvr::paths::runtimeDir() / "atoms";
}
} // namespace

std::optional<GlobalAtom> GlobalAtom::add(std::string_view name, AtomAddResult* result) {
    AtomAddResult r = AtomAddResult::Failed;
    std::optional<GlobalAtom> out;
    try {
        GlobalAtom atom;
        switch (detail::OwnedName::acquire(atomDir(), name, atom.owned_)) {
        case detail::AcquireResult::Acquired:
            atom.name_ = std::string(name);
            out.emplace(std::move(atom));
            r = AtomAddResult::Added;
            break;
        case detail::AcquireResult::HeldElsewhere:
            r = AtomAddResult::HeldElsewhere;
            break;
        case detail::AcquireResult::Failed:
            r = AtomAddResult::Failed;
            break;
        }
    } catch (const std::exception&) { // allocation failure
        out.reset();
        r = AtomAddResult::Failed;
    }
    if (result != nullptr) *result = r;
    return out;
}

bool findAtom(std::string_view name) {
    try {
        return detail::findOwner(atomDir(), name).has_value();
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace kvr::desktop
