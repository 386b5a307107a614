// kvrreg: reads and changes the suite's registry store from the command line.
//
//   kvrreg query KEY [VALUE]
//   kvrreg set KEY VALUE dword|sz DATA
//   kvrreg delete KEY [VALUE]
//   kvrreg export [KEY]
//
// Exit codes: 0 done, 1 no such key or value, 2 bad arguments, 3 the store is unusable.

#include "platform/common/paths.h"
#include "platform/registry/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace reg = kvr::reg;

enum Exit : int { kOk = 0, kNotFound = 1, kBadArguments = 2, kStoreUnusable = 3 };

constexpr const char* kUsage =
    "Usage: kvrreg COMMAND ARGS...\n"
    "Reads and changes the Lumarcon registry store ($KVR_STATE_DIR/registry.db).\n"
    "\n"
    "Commands:\n"
    "  query KEY [VALUE]              show a key (its values and subkeys) or one value\n"
    "  set KEY VALUE dword|sz DATA    set a value, creating the key when missing;\n"
    "                                 dword DATA is decimal or 0x-prefixed hexadecimal\n"
    "  delete KEY [VALUE]             delete a key with its subtree, or one value\n"
    "  export [KEY]                   dump a key and its subtree (default: every hive)\n"
    "\n"
    "KEY is HKEY_LOCAL_MACHINE\\..., HKLM\\..., \\REGISTRY\\Machine\\..., HKEY_CURRENT_USER\\...\n"
    "or HKCU\\...; names are compared without regard to case. Use \"\" for the default value.\n"
    "\n"
    "Exit status: 0 done, 1 no such key or value, 2 bad arguments, 3 store unusable.\n";

int usageError(const char* fmt, const char* arg = "") {
    std::fprintf(stderr, "kvrreg: ");
    std::fprintf(stderr, fmt, arg);
    std::fprintf(stderr, "\nTry 'kvrreg --help'.\n");
    return kBadArguments;
}

// Maps a store result to an exit code, with a message on stderr for every failure.
int report(reg::Status s, std::string_view key, std::string_view value = {}, bool isValue = false) {
    switch (s) {
    case reg::Status::Ok:
        return kOk;
    case reg::Status::NotFound:
        if (isValue)
            std::fprintf(stderr, "kvrreg: no such key or value: %.*s \"%.*s\"\n",
                         static_cast<int>(key.size()), key.data(), static_cast<int>(value.size()),
                         value.data());
        else
            std::fprintf(stderr, "kvrreg: no such key: %.*s\n", static_cast<int>(key.size()),
                         key.data());
        return kNotFound;
    case reg::Status::InvalidArgument:
        std::fprintf(stderr, "kvrreg: invalid key path or name: %.*s\n",
                     static_cast<int>(key.size()), key.data());
        return kBadArguments;
    case reg::Status::TypeMismatch:
        std::fprintf(stderr, "kvrreg: value has another type: %.*s\n",
                     static_cast<int>(value.size()), value.data());
        return kBadArguments;
    case reg::Status::AccessDenied:
        break;
    }
    const std::string file = (kvr::paths::stateDir() / "registry.db").string();
    std::fprintf(stderr,
                 "kvrreg: the registry store %s cannot be opened or written "
                 "(missing rights, corrupt or locked)\n",
                 file.c_str());
    return kStoreUnusable;
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

const char* typeName(reg::Type t) {
    return t == reg::Type::Sz ? "REG_SZ" : "REG_DWORD";
}

// A value as `query` shows it: name, type and data separated by four spaces.
void printQueryLine(const reg::Value& v) {
    const std::string name = v.name.empty() ? "(Default)" : v.name;
    if (v.type == reg::Type::Sz)
        std::printf("    %s    %s    %s\n", name.c_str(), typeName(v.type), v.sz.c_str());
    else
        std::printf("    %s    %s    0x%x\n", name.c_str(), typeName(v.type), v.dword);
}

// Quotes a name or string the way .reg files do.
std::string regQuoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

void printExportLine(const reg::Value& v) {
    const std::string name = v.name.empty() ? "@" : regQuoted(v.name);
    if (v.type == reg::Type::Sz)
        std::printf("%s=%s\n", name.c_str(), regQuoted(v.sz).c_str());
    else
        std::printf("%s=dword:%08x\n", name.c_str(), v.dword);
}

int exportTree(const std::string& canonical) {
    std::vector<reg::Value> values;
    std::vector<std::string> subkeys;
    reg::Status s = reg::enumValues(canonical, values);
    if (s == reg::Status::Ok) s = reg::enumSubkeys(canonical, subkeys);
    // A key deleted by another process while we walk is simply left out.
    if (s == reg::Status::NotFound) return kOk;
    if (s != reg::Status::Ok) return report(s, canonical);
    std::printf("[%s]\n", canonical.c_str());
    for (const auto& v : values)
        printExportLine(v);
    std::printf("\n");
    for (const auto& sub : subkeys) {
        const int rc = exportTree(canonical + "\\" + sub);
        if (rc != kOk) return rc;
    }
    return kOk;
}

int cmdQuery(const std::vector<std::string>& a) {
    if (a.empty() || a.size() > 2) return usageError("query needs KEY [VALUE]");
    const std::string& key = a[0];
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
    std::printf("%s\n", canonical.c_str());
    for (const auto& v : values)
        printQueryLine(v);
    for (const auto& sub : subkeys)
        std::printf("%s\\%s\n", canonical.c_str(), sub.c_str());
    return kOk;
}

int cmdSet(const std::vector<std::string>& a) {
    if (a.size() != 4) return usageError("set needs KEY VALUE dword|sz DATA");
    const std::string &key = a[0], &name = a[1], &type = a[2], &data = a[3];
    reg::Value v;
    v.name = name;
    if (type == "dword" || type == "REG_DWORD") {
        v.type = reg::Type::Dword;
        if (!parseDword(data, v.dword))
            return usageError("not a 32-bit number (decimal or 0x hex): %s", data.c_str());
    } else if (type == "sz" || type == "REG_SZ") {
        v.type = reg::Type::Sz;
        v.sz = data;
    } else {
        return usageError("unknown value type '%s' (dword or sz)", type.c_str());
    }
    reg::Status s = reg::createKey(key);
    if (s == reg::Status::Ok) s = reg::setValue(key, v);
    return report(s, key, name, true);
}

int cmdDelete(const std::vector<std::string>& a) {
    if (a.empty() || a.size() > 2) return usageError("delete needs KEY [VALUE]");
    if (a.size() == 2) return report(reg::deleteValue(a[0], a[1]), a[0], a[1], true);
    return report(reg::deleteKey(a[0]), a[0]);
}

int cmdExport(const std::vector<std::string>& a) {
    if (a.size() > 1) return usageError("export takes at most one KEY");
    std::vector<std::string> roots;
    if (a.empty()) {
        roots = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER"};
    } else {
        std::string canonical;
        const reg::Status s = reg::canonicalPath(a[0], canonical);
        if (s != reg::Status::Ok) return report(s, a[0]);
        roots = {canonical};
    }
    for (const auto& root : roots) {
        const int rc = exportTree(root);
        if (rc != kOk) return rc;
    }
    return kOk;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("missing command");
    const std::string cmd = args.front();
    args.erase(args.begin());
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        std::fputs(kUsage, stdout);
        return kOk;
    }
    int rc = kBadArguments;
    if (cmd == "query")
        rc = cmdQuery(args);
    else if (cmd == "set")
        rc = cmdSet(args);
    else if (cmd == "delete")
        rc = cmdDelete(args);
    else if (cmd == "export")
        rc = cmdExport(args);
    else
        return usageError("unknown command '%s'", cmd.c_str());
    // Closing checkpoints the write-ahead log, so a one-shot tool leaves the database tidy.
    reg::closeStore();
    std::fflush(stdout);
    return rc;
}
