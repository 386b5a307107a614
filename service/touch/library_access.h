#pragma once
// The touch library keeps its controller and display tables per process and takes no lock:
// a program must use it from one thread at a time. The service calls it from its event loop,
// its controller watcher, its access timer and its control handler, so every call goes through
// here, one at a time.

#include <string>
#include <vector>

namespace kvr::touchsvc {

// GetExistControllers, then GetControllerName for 1 to the count: the controller names in the
// order the library lists them. Names that do not fit the name buffer are left out.
std::vector<std::string> listControllers();

// GetExistDisplays: rebuilds the library's display table and hands it to the drivers. The
// number of display entries (0 when the displays cannot be listed or a driver refuses them).
unsigned announceDisplays();

} // namespace kvr::touchsvc
