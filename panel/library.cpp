#include "panel/library.h"

namespace kvr::panel::lib {

std::mutex& libraryLock() {
    static std::mutex lock;
    return lock;
}

} // namespace kvr::panel::lib
