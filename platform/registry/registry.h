#pragma once
// The registry store: keys and typed values kept in one SQLite database,
// $KVR_STATE_DIR/registry.db (folder and file created by the first write; a read of a store
// that does not exist finds nothing and creates nothing).
//
// Paths name a hive and then key names separated by '\':
//   \REGISTRY\Machine\X  ==  HKEY_LOCAL_MACHINE\X  ==  HKLM\X
//   \REGISTRY\User\X     ==  HKEY_CURRENT_USER\X   ==  HKCU\X   (one user profile per store)
// Empty components are ignored, so a leading or trailing '\' or a doubled '\' does not matter.
// Key and value names compare without regard to ASCII case and keep the case they were created
// with. Letters outside ASCII compare exactly: the folded form is stored in the database, so
// every process must fold alike whatever its locale, and the suite's own names are ASCII. Subkeys
// and values enumerate in creation order; setting an existing value keeps its place.
//
// The file carries the store's application id and format version. A file that is not a
// settings store (another program's database, no database at all) or that a newer version of
// the suite wrote is refused and never altered: every call then fails with AccessDenied.
//
// Every call is one transaction, so the driver, the service and every program may read and write
// at the same time from any number of threads and processes. The store follows KVR_STATE_DIR of
// the calling process at each call. No call throws.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvr::reg {

enum class Status {
    Ok,
    NotFound,     // the key or value does not exist
    AccessDenied, // the store cannot be opened, read or written (missing rights, corrupt, locked)
    InvalidArgument, // a malformed path or name (unknown hive, name too long, NUL byte)
    TypeMismatch,    // the value exists but has another type than the one asked for
};

enum class Type : uint32_t { Sz = 1 /* REG_SZ */, Dword = 4 /* REG_DWORD */ };

struct Value {
    std::string name; // as created
    Type type = Type::Dword;
    uint32_t dword = 0; // data when type == Dword
    std::string sz;     // data when type == Sz
    bool operator==(const Value&) const = default;
};

// Longest key name component and value name (as on Windows).
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;

// Keys.
Status createKey(std::string_view path); // with missing parents; Ok when it already exists
Status keyExists(std::string_view path); // Ok / NotFound / AccessDenied / InvalidArgument
Status deleteKey(std::string_view path); // the key, its values and its whole subtree
// The key's full path in Win32 form with every name as created,
// e.g. "HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet".
Status canonicalPath(std::string_view path, std::string& out);

// Values. Queries report NotFound for a missing key or value; sets need an existing key
// (NotFound otherwise) and replace the type and data of a value that exists.
Status queryDword(std::string_view path, std::string_view name, uint32_t& out);
Status querySz(std::string_view path, std::string_view name, std::string& out);
Status queryValue(std::string_view path, std::string_view name, Value& out);
Status setDword(std::string_view path, std::string_view name, uint32_t data);
Status setSz(std::string_view path, std::string_view name, std::string_view data);
Status setValue(std::string_view path, const Value& value); // value.name is the name
Status deleteValue(std::string_view path, std::string_view name);
// Replaces every value of an existing key by `values`, in their order, as one transaction: a
// reader sees the old set or the new one, never a mix. Names that fold alike keep the last
// one's data at the first one's place. Nothing changes when any value is invalid.
Status replaceValues(std::string_view path, const std::vector<Value>& values);

// A key with values, as an import brings them.
struct KeyValues {
    std::string path;
    std::vector<Value> values;
};
// Creates every key (with missing parents) and sets its values, in their order, as one
// transaction: everything is written or nothing (any invalid path, name or value, or a store
// error, changes nothing). Keys and values that are not named stay as they are.
Status importKeys(const std::vector<KeyValues>& keys);
// Each root key and its whole subtree, key by key (a key before its subkeys, subkeys in creation
// order) with the key's full path as created and its values, read as one transaction: a
// snapshot that no writer changes half way, over all the roots. NotFound when a root does not
// exist. `out` is replaced.
Status exportKeys(const std::vector<std::string>& roots, std::vector<KeyValues>& out);

// Enumeration, in creation order. `out` is replaced.
Status enumValues(std::string_view path, std::vector<Value>& out);
Status enumSubkeys(std::string_view path, std::vector<std::string>& out); // names as created

// "ok", "not found", "access denied", "invalid argument", "type mismatch".
const char* statusText(Status status);

// Opens the store now (for writing, creating it when missing, unless useReadOnly() was
// called): Ok when it is usable, otherwise the status every call would get and a one-line
// reason, e.g. "/var/lib/lumarcon/registry.db is not a settings store". NotFound: read-only
// and there is no store.
Status probeStore(std::string& reason);

// From now on this process opens the store read-only: it never creates or changes the folder
// or any file of it, and every change fails with AccessDenied. A user who may read the store
// but not write it can query it this way. Call before the first access.
void useReadOnly();

// Why `path` (and `valueName`, when given) cannot name a key or value, in words ("key name
// too long: ..."); empty when both are valid.
std::string invalidReason(std::string_view path, std::string_view valueName = {});

// Closes this process's connection to the store (the next call opens it again). For tests and for
// programs that change KVR_STATE_DIR; never needed otherwise.
void closeStore();

} // namespace kvr::reg
