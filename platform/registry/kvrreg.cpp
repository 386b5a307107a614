// kvrreg: reads and changes the suite's registry store from the command line.
//
//   kvrreg query KEY [VALUE]
//   kvrreg set KEY VALUE dword|sz DATA
//   kvrreg delete KEY [VALUE]
//   kvrreg export [KEY]
//   kvrreg import FILE
//
// Exit codes: 0 done, 1 no such key or value, 2 bad arguments, 3 no store or the store is
// unusable, 4 (import) the file cannot be read or is not what export writes. query and export
// open the store read-only and never create it; delete never creates it either.

#include "platform/common/log.h"
#include "platform/common/paths.h"
#include "platform/desktop/command_line.h"
#include "platform/registry/reg_text.h"
#include "platform/registry/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

namespace {

namespace reg = kvr::reg;

enum Exit : int { kOk = 0, kNotFound = 1, kBadArguments = 2, kStoreUnusable = 3, kBadFile = 4 };

// The largest file import reads: far more than any store of the suite exports.
constexpr std::size_t kMaxImportBytes = 16 * 1024 * 1024;

constexpr const char* kUsage =
    "Usage: kvrreg COMMAND ARGS...\n"
    "Reads and changes the Lumarcon registry store ($KVR_STATE_DIR/registry.db).\n"
    "\n"
    "Commands:\n"
    "  query KEY [VALUE]              show a key (its values and subkeys) or one value\n"
    "  set KEY VALUE TYPE DATA        set a value, creating the key (and the store) when\n"
    "                                 missing; TYPE is dword or sz (any case, REG_ prefix\n"
    "                                 allowed); dword DATA is decimal or 0x-prefixed hex\n"
    "  delete KEY [VALUE]             delete a key with its subtree, or one value\n"
    "  export [KEY]                   dump a key and its subtree (default: every hive) as a\n"
    "                                 .reg file, as they stand at one moment; text with\n"
    "                                 control characters as hex(1):\n"
    "  import FILE                    read what export wrote (FILE, or - for stdin) back:\n"
    "                                 its keys are created and its values set, all in one\n"
    "                                 step; a file with any error changes nothing. Keys and\n"
    "                                 values the file does not name stay as they are\n"
    "\n"
    "KEY is HKEY_LOCAL_MACHINE\\..., HKLM\\..., \\REGISTRY\\Machine\\..., HKEY_CURRENT_USER\\...\n"
    "or HKCU\\...; names are compared without regard to ASCII case (other letters exactly).\n"
    "Use \"\" for the default value. query and export only read: they open the store\n"
    "read-only and never create it.\n"
    "\n"
    "Options: --help, --version.\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  no such key or value\n"
    "  2  usage error (unknown command, missing or bad argument)\n"
    "  3  no settings store, or the store is unusable (the message says why)\n"
    "  4  import: the file cannot be read or is not what export writes (nothing imported)\n";

int usageError(const std::string& message) {
    return kvr::cli::usageError("kvrreg", message);
}

std::string shown(std::string_view text) {
    return "'" + kvr::cli::quoted(text) + "'";
}

std::string storeFile() {
    return (kvr::paths::stateDir() / "registry.db").string();
}

int storeUnusable(const std::string& reason) {
    kvr::cli::failure("kvrreg", reason.empty() ? storeFile() + " cannot be used" : reason);
    return kStoreUnusable;
}

// Maps a store result to an exit code, with a message on stderr for every failure.
int report(reg::Status s, std::string_view key, std::string_view value = {}, bool isValue = false) {
    switch (s) {
    case reg::Status::Ok:
        return kOk;
    case reg::Status::NotFound:
        if (isValue)
            kvr::cli::failure("kvrreg", "no such key or value: " + shown(key) + " " + shown(value));
        else
            kvr::cli::failure("kvrreg", "no such key: " + shown(key));
        return kNotFound;
    case reg::Status::InvalidArgument: {
        const std::string why = reg::invalidReason(key, isValue ? value : std::string_view());
        return usageError(why.empty() ? "invalid key path " + shown(key) : why);
    }
    case reg::Status::TypeMismatch:
        kvr::cli::failure("kvrreg", "value has another type: " + shown(value));
        return kBadArguments;
    case reg::Status::AccessDenied:
        break;
    }
    std::string reason;
    if (reg::probeStore(reason) == reg::Status::Ok)
        reason = storeFile() + " cannot be written (missing rights, or locked)";
    return storeUnusable(reason);
}

// Opens the store before a command that must not create it; the exit code when it cannot.
std::optional<int> openExisting(bool readOnly) {
    if (readOnly) reg::useReadOnly();
    std::error_code ec;
    if (!readOnly && !std::filesystem::exists(storeFile(), ec))
        return storeUnusable("no settings store at " + storeFile());
    std::string reason;
    if (reg::probeStore(reason) != reg::Status::Ok) return storeUnusable(reason);
    return std::nullopt;
}

// Decimal, or hexadecimal after "0x"; the whole text must be a number that fits 32 bits.
bool parseDword(const std::string& text, uint32_t& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.c_str() + (hex ? 2 : 0);
    if (*begin == '-' || *begin == '+' || *begin == ' ') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(begin, &end, hex ? 16 : 10);
    if (errno != 0 || end == begin || *end != '\0' || v > 0xFFFFFFFFull) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

// True for a valid path that names a hive itself ("HKLM", "\\REGISTRY\\Machine\\").
bool isHive(const std::string& path) {
    std::vector<std::string_view> parts;
    for (std::size_t pos = 0; pos < path.size();) {
        const std::size_t end = std::min(path.find('\\', pos), path.size());
        if (end > pos) parts.push_back(std::string_view(path).substr(pos, end - pos));
        pos = end + 1;
    }
    if (parts.empty() || !reg::invalidReason(path).empty()) return false;
    const bool kernel = parts[0].size() == 8 && ::strncasecmp(parts[0].data(), "REGISTRY", 8) == 0;
    return parts.size() == (kernel ? 2u : 1u);
}

const char* typeName(reg::Type t) {
    return t == reg::Type::Sz ? "REG_SZ" : "REG_DWORD";
}

// A name or text as `query` shows it: control characters escaped, nothing cut.
std::string printable(std::string_view text) {
    return kvr::cli::quoted(text, std::numeric_limits<std::size_t>::max());
}

// A value as `query` shows it: name, type and data separated by four spaces.
void printQueryLine(const reg::Value& v) {
    const std::string name = v.name.empty() ? "(Default)" : printable(v.name);
    if (v.type == reg::Type::Sz)
        std::printf("    %s    %s    %s\n", name.c_str(), typeName(v.type),
                    printable(v.sz).c_str());
    else
        std::printf("    %s    %s    0x%x\n", name.c_str(), typeName(v.type), v.dword);
}

void printExportLine(const reg::Value& v) {
    std::printf("%s\n", reg::formatValueLine(v).c_str());
}

void printExport(const reg::KeyValues& key) {
    if (reg::keyPathIsAmbiguous(key.path))
        kvr::cli::failure("kvrreg", "warning: key " + shown(key.path) +
                                        " has control characters in its name: import cannot "
                                        "read it back");
    std::printf("%s\n", reg::formatKeyLine(key.path).c_str());
    for (const auto& v : key.values)
        printExportLine(v);
    std::printf("\n");
}

int cmdQuery(const std::vector<std::string>& a) {
    if (a.empty() || a.size() > 2) return usageError("query needs KEY [VALUE]");
    const std::string& key = a[0];
    if (const auto why = reg::invalidReason(key, a.size() == 2 ? a[1] : ""); !why.empty())
        return usageError(why);
    if (const auto rc = openExisting(true)) return *rc;
    if (a.size() == 2) {
        reg::Value v;
        const reg::Status s = reg::queryValue(key, a[1], v);
        if (s != reg::Status::Ok) return report(s, key, a[1], true);
        printQueryLine(v);
        return kOk;
    }
    std::string canonical;
    std::vector<reg::Value> values;
    std::vector<std::string> subkeys;
    reg::Status s = reg::canonicalPath(key, canonical);
    if (s == reg::Status::Ok) s = reg::enumValues(key, values);
    if (s == reg::Status::Ok) s = reg::enumSubkeys(key, subkeys);
    if (s != reg::Status::Ok) return report(s, key);
    std::printf("%s\n", printable(canonical).c_str());
    for (const auto& v : values)
        printQueryLine(v);
    for (const auto& sub : subkeys)
        std::printf("%s\\%s\n", printable(canonical).c_str(), printable(sub).c_str());
    return kOk;
}

int cmdSet(const std::vector<std::string>& a) {
    if (a.size() != 4) return usageError("set needs KEY VALUE TYPE DATA (TYPE dword or sz)");
    const std::string &key = a[0], &name = a[1], &type = a[2], &data = a[3];
    if (const auto why = reg::invalidReason(key, name); !why.empty()) return usageError(why);
    reg::Value v;
    v.name = name;
    // Type names as Windows tools accept them: any case, with or without "REG_".
    const std::string_view bare =
        ::strncasecmp(type.c_str(), "REG_", 4) == 0 ? std::string_view(type).substr(4) : type;
    if (::strcasecmp(std::string(bare).c_str(), "dword") == 0) {
        v.type = reg::Type::Dword;
        if (!parseDword(data, v.dword))
            return usageError("not a 32-bit number (decimal or 0x hex): " + shown(data));
    } else if (::strcasecmp(std::string(bare).c_str(), "sz") == 0) {
        v.type = reg::Type::Sz;
        v.sz = data;
    } else {
        return usageError("unknown value type " + shown(type) + " (dword or sz)");
    }
    reg::Status s = reg::createKey(key);
    if (s == reg::Status::Ok) s = reg::setValue(key, v);
    return report(s, key, name, true);
}

int cmdDelete(const std::vector<std::string>& a) {
    if (a.empty() || a.size() > 2) return usageError("delete needs KEY [VALUE]");
    if (const auto why = reg::invalidReason(a[0], a.size() == 2 ? a[1] : ""); !why.empty())
        return usageError(why);
    if (a.size() == 1 && isHive(a[0]))
        return usageError("a hive cannot be deleted: " + shown(a[0]));
    if (const auto rc = openExisting(false)) return *rc;
    if (a.size() == 2) return report(reg::deleteValue(a[0], a[1]), a[0], a[1], true);
    return report(reg::deleteKey(a[0]), a[0]);
}

int cmdExport(const std::vector<std::string>& a) {
    if (a.size() > 1) return usageError("export takes at most one KEY");
    if (a.size() == 1)
        if (const auto why = reg::invalidReason(a[0]); !why.empty()) return usageError(why);
    if (const auto rc = openExisting(true)) return *rc;
    // One snapshot: a driver or program writing meanwhile never leaves half a change in it.
    const std::vector<std::string> roots =
        a.empty() ? std::vector<std::string>{"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"} : a;
    std::vector<reg::KeyValues> keys;
    const reg::Status s = reg::exportKeys(roots, keys);
    if (s != reg::Status::Ok) return report(s, a.empty() ? roots[0] : a[0]);
    for (const auto& key : keys)
        printExport(key);
    return kOk;
}

// The whole file (or stdin for "-"); false when it cannot be read or is too large.
bool readWhole(const std::string& file, std::string& out, std::string& why) {
    FILE* f = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
    if (f == nullptr) {
        why = std::strerror(errno);
        return false;
    }
    out.clear();
    char chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        out.append(chunk, n);
        if (out.size() > kMaxImportBytes) break;
    }
    const bool failed = std::ferror(f) != 0;
    if (f != stdin) std::fclose(f);
    if (failed)
        why = "read error";
    else if (out.size() > kMaxImportBytes)
        why = "larger than any export (16 MiB)";
    return why.empty();
}

int cmdImport(const std::vector<std::string>& a) {
    if (a.size() != 1) return usageError("import needs FILE (or - for stdin)");
    const std::string& file = a[0];
    const std::string shownFile = file == "-" ? std::string("stdin") : file;
    std::string text, why;
    if (!readWhole(file, text, why)) {
        kvr::cli::failure("kvrreg", "cannot read " + shownFile + ": " + why);
        return kBadFile;
    }
    std::vector<reg::KeyValues> keys;
    reg::ParseError error;
    if (!reg::parseRegText(text, keys, error)) {
        kvr::cli::failure("kvrreg", shownFile + ":" + std::to_string(error.line) + ": " +
                                        error.reason + "; nothing imported");
        return kBadFile;
    }
    const reg::Status s = reg::importKeys(keys);
    if (s == reg::Status::InvalidArgument) {
        kvr::cli::failure("kvrreg",
                          shownFile + ": a key or value cannot be stored; nothing imported");
        return kBadFile;
    }
    return report(s, keys.empty() ? std::string("HKLM") : keys.front().path);
}

} // namespace

int main(int argc, char** argv) {
    // kvrreg says itself, in one line, what went wrong with the store.
    kvr::log::setLevel(kvr::log::Level::Error);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("missing command (query, set, delete, export or import)");
    const std::string cmd = args.front();
    args.erase(args.begin());
    if (kvr::cli::isHelp(cmd) || cmd == "help") {
        std::fputs(kUsage, stdout);
        return kOk;
    }
    if (kvr::cli::isVersion(cmd)) return kvr::cli::printVersion("kvrreg");
    int rc = kBadArguments;
    if (cmd == "query")
        rc = cmdQuery(args);
    else if (cmd == "set")
        rc = cmdSet(args);
    else if (cmd == "delete")
        rc = cmdDelete(args);
    else if (cmd == "export")
        rc = cmdExport(args);
    else if (cmd == "import")
        rc = cmdImport(args);
    else
        return usageError("unknown command " + shown(cmd) +
                          " (query, set, delete, export or import)");
    // Closing checkpoints the write-ahead log, so a one-shot tool leaves the database tidy.
    reg::closeStore();
    std::fflush(stdout);
    return rc;
}
