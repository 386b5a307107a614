#pragma once
// A daemon started by hand as root on an installed system. The units run the daemons as the
// user lumarcon, which owns the runtime folder (/run/lumarcon) and the state folder: whatever
// a root daemon created there (a control-device folder, a lock file) would belong to root,
// and the units would then fail with "Permission denied". So a daemon run as root where
// either folder belongs to another user refuses, and says how to run it instead.

#include <string>
#include <string_view>

namespace kvr::paths {

// Empty when this process may go on; otherwise the one-line reason it must not, naming the
// unit to start and the user to run as (`program` and `unit` as the message should name them).
std::string rootRunRefusal(std::string_view program, std::string_view unit);

} // namespace kvr::paths
