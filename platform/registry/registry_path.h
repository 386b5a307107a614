#pragma once
// Parsing of registry paths and ASCII case folding (internal to the registry store).

#include "platform/registry/registry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::reg::detail {

// Row ids of the two hive roots in the keys table.
enum class Hive : int64_t { LocalMachine = 1, CurrentUser = 2 };

struct ParsedPath {
    Hive hive = Hive::LocalMachine;
    std::vector<std::string_view> names; // key names below the hive, as written by the caller
};

// Splits a path into its hive and key names. InvalidArgument for an unknown or missing hive, a
// name longer than kMaxKeyNameLength or a NUL byte; `why` (when given) then says which.
Status parsePath(std::string_view path, ParsedPath& out, std::string* why = nullptr);

// The Win32 name of a hive: "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
const char* hiveName(Hive hive);

// Names compare by their ASCII-lower-case form (Windows compares without case; names in this
// suite are ASCII).
std::string foldCase(std::string_view name);
bool equalsNoCase(std::string_view a, std::string_view b);

} // namespace kvr::reg::detail
