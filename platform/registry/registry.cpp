#include "platform/registry/registry.h"

#include "platform/common/log.h"
#include "platform/common/paths.h"
#include "platform/registry/registry_path.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace kvr::reg {

using detail::ParsedPath;

namespace {

// Bumped whenever the tables change shape; kept in PRAGMA user_version. A store of a higher
// version was written by a newer suite and is refused, never rewritten.
constexpr int kSchemaVersion = 1;
// PRAGMA application_id of a settings store ("KVRR"), so that the file says what it is
// (file(1) shows it too). Stores made before it was set have 0 and the tables below.
constexpr int64_t kApplicationId = 0x4B565252;

// How long one operation waits for another process's write to finish before it gives up with
// AccessDenied. Writers hold the lock for one short transaction, so this is only reached when
// something holds the database far longer than this suite ever does.
constexpr int kBusyTimeoutMs = 10000;

// Keys form a tree below the two hive roots (parent NULL, fixed ids). `lname` is the folded
// name used for lookups; `name` keeps the case the key was created with. Row ids grow with every
// insert, so ORDER BY id is creation order, and an upsert that updates a value keeps its row.
constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
    id     INTEGER PRIMARY KEY,
    parent INTEGER,
    name   TEXT NOT NULL,
    lname  TEXT NOT NULL,
    UNIQUE(parent, lname));
CREATE TABLE IF NOT EXISTS vals(
    id    INTEGER PRIMARY KEY,
    key   INTEGER NOT NULL,
    name  TEXT NOT NULL,
    lname TEXT NOT NULL,
    type  INTEGER NOT NULL,
    data,
    UNIQUE(key, lname));
INSERT OR IGNORE INTO keys(id, parent, name, lname) VALUES
    (1, NULL, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine'),
    (2, NULL, 'HKEY_CURRENT_USER', 'hkey_current_user');
PRAGMA user_version = 1;
PRAGMA application_id = 1263948370;
)sql";
static_assert(kApplicationId == 1263948370, "kSchema writes the application id in decimal");

constexpr const char* kFindChild = "SELECT id, name FROM keys WHERE parent = ?1 AND lname = ?2";
constexpr const char* kInsertKey = "INSERT INTO keys(parent, name, lname) VALUES(?1, ?2, ?3)";
constexpr const char* kDeleteSubtreeValues =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " DELETE FROM vals WHERE key IN (SELECT id FROM sub)";
constexpr const char* kDeleteSubtreeKeys =
    "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL"
    " SELECT keys.id FROM keys JOIN sub ON keys.parent = sub.id)"
    " DELETE FROM keys WHERE id IN (SELECT id FROM sub)";
constexpr const char* kFindValue =
    "SELECT name, type, data FROM vals WHERE key = ?1 AND lname = ?2";
constexpr const char* kUpsertValue =
    "INSERT INTO vals(key, name, lname, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key, lname) DO UPDATE SET type = excluded.type, data = excluded.data";
constexpr const char* kDeleteValue = "DELETE FROM vals WHERE key = ?1 AND lname = ?2";
constexpr const char* kDeleteKeyValues = "DELETE FROM vals WHERE key = ?1";
constexpr const char* kListValues = "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id";
constexpr const char* kListSubkeys = "SELECT name FROM keys WHERE parent = ?1 ORDER BY id";
constexpr const char* kListSubkeyIds =
    "SELECT id, name FROM keys WHERE parent = ?1 ORDER BY id DESC";

// A failure of the database itself (as opposed to a missing key): the operation ends with
// AccessDenied. Thrown and caught only inside this file.
struct DbError {
    int rc;
};

// Errors after which the connection is dropped, so the next call opens the file afresh
// (it may have been replaced or repaired meanwhile).
bool connectionBroken(int rc) {
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
        return true;
    default:
        return false;
    }
}

// One open connection to registry.db, owned by this process and used under g_mutex only.
class Store {
public:
    // Opens the database (creating it unless read-only); nullptr and a one-line reason when
    // it is missing, unusable or not a settings store.
    static std::unique_ptr<Store> open(const std::string& file, bool readOnly, std::string& reason);
    ~Store() {
        if (!leaked_) {
            for (auto& [sql, st] : stmts_)
                sqlite3_finalize(st);
            // Everything committed moves from the write-ahead log into registry.db, so that
            // the file alone holds every setting once the process has closed the store (a
            // copy of it is a whole store). Other processes may still read: the checkpoint
            // waits for them like any writer. A store that cannot be written keeps its log.
            sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
            sqlite3_close_v2(db_);
        }
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& file() const { return file_; }
    pid_t pid() const { return pid_; }
    // A child process after fork must not touch the parent's connection, not even to close it.
    void leak() { leaked_ = true; }
    // Opened without the write-ahead log's index (a reader that may not write the folder): it
    // sees the file as it was when opened, so it serves one call only.
    bool transient() const { return transient_; }

    // Creates the tables and the hive roots (each statement only when missing) in one
    // transaction.
    void setUp() {
        exec("BEGIN IMMEDIATE");
        try {
            exec(kSchema);
            exec("COMMIT");
        } catch (const DbError&) {
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    }

    void exec(const char* sql) {
        const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) throw DbError{rc};
    }
    // A cached prepared statement, reset and cleared of bindings.
    sqlite3_stmt* stmt(const char* sql) {
        auto it = stmts_.find(sql);
        if (it != stmts_.end()) return it->second;
        sqlite3_stmt* st = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
        if (rc != SQLITE_OK) throw DbError{rc};
        stmts_.emplace(sql, st);
        return st;
    }
    int64_t lastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    int64_t changes() const { return sqlite3_changes64(db_); }

private:
    Store(sqlite3* db, std::string file) : db_(db), file_(std::move(file)), pid_(::getpid()) {}

    sqlite3* db_;
    std::string file_;
    pid_t pid_;
    bool leaked_ = false;
    bool transient_ = false;
    std::unordered_map<const char*, sqlite3_stmt*> stmts_;
};

// Binds, steps and resets one cached statement.
class Stmt {
public:
    Stmt(Store& store, const char* sql) : st_(store.stmt(sql)) {}
    ~Stmt() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& bind(int i, int64_t v) {
        check(sqlite3_bind_int64(st_, i, v));
        return *this;
    }
    Stmt& bind(int i, std::string_view v) {
        check(sqlite3_bind_text(st_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True while there is a row.
    bool step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw DbError{rc};
    }
    int64_t int64(int col) const { return sqlite3_column_int64(st_, col); }
    bool isNull(int col) const { return sqlite3_column_type(st_, col) == SQLITE_NULL; }
    std::string text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_, col));
        const int n = sqlite3_column_bytes(st_, col);
        return p != nullptr ? std::string(p, static_cast<std::size_t>(n)) : std::string();
    }

private:
    static void check(int rc) {
        if (rc != SQLITE_OK) throw DbError{rc};
    }
    sqlite3_stmt* st_;
};

// What a file holds, read without changing it.
struct FileKind {
    int64_t applicationId = 0;
    int version = 0;
    bool empty = true;      // no tables at all: a new store to set up
    bool ourTables = false; // the keys and vals tables
};

FileKind inspect(Store& store) {
    FileKind kind;
    {
        Stmt q(store, "PRAGMA application_id");
        if (q.step()) kind.applicationId = q.int64(0);
    }
    {
        Stmt q(store, "PRAGMA user_version");
        if (q.step()) kind.version = static_cast<int>(q.int64(0));
    }
    int tables = 0, ours = 0;
    Stmt q(store, "SELECT name FROM sqlite_master WHERE type = 'table'");
    while (q.step()) {
        ++tables;
        const std::string name = q.text(0);
        if (name == "keys" || name == "vals") ++ours;
    }
    kind.empty = tables == 0;
    kind.ourTables = ours == 2;
    return kind;
}

// Empty when the file may be used as a settings store, else why not.
std::string refusal(const FileKind& kind, const std::string& file) {
    char text[160];
    if (kind.applicationId != kApplicationId && kind.applicationId != 0) {
        std::snprintf(text, sizeof text, " is not a settings store (application id 0x%08llX)",
                      static_cast<unsigned long long>(kind.applicationId));
        return file + text;
    }
    if (kind.applicationId == 0 && !kind.empty && !kind.ourTables)
        return file + " is not a settings store (another program's database)";
    if (kind.version > kSchemaVersion) {
        std::snprintf(text, sizeof text,
                      " was written by a newer version of the suite (store format %d; this "
                      "program reads format %d)",
                      kind.version, kSchemaVersion);
        return file + text;
    }
    return {};
}

// "file:<path>?<query>" with the characters a URI path may not hold escaped.
std::string fileUri(const std::string& file, const char* query) {
    std::string uri = "file:";
    for (const char c : file) {
        if (c == '%' || c == '?' || c == '#') {
            char esc[4];
            std::snprintf(esc, sizeof esc, "%%%02X", static_cast<unsigned char>(c));
            uri += esc;
        } else {
            uri += c;
        }
    }
    return uri + "?" + query;
}

std::string openErrorText(sqlite3* db, int rc) {
    if (db != nullptr && sqlite3_system_errno(db) != 0)
        return std::strerror(sqlite3_system_errno(db));
    return db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
}

// Opens the database a "file:" URI names; nullptr and a reason when it cannot.
sqlite3* openConnection(const std::string& file, int flags, std::string& reason) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, flags, nullptr);
    if (rc != SQLITE_OK) {
        reason = openErrorText(raw, rc);
        sqlite3_close_v2(raw);
        return nullptr;
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    return raw;
}

// The group whose members share the settings store (the daemons run in it; desktop users who
// configure touch screens are added to it).
constexpr const char* kStoreGroup = "lumarcon";

// A new store is shared with the suite's group: mode 0660 whatever the creator's umask, and
// the group lumarcon when the system has it (a creator not allowed to give it keeps its own
// group; a state folder with the set-group-ID bit gives it anyway). SQLite makes the log
// files with the store's own mode and owner.
void shareWithGroup(const std::string& file) {
    if (::chmod(file.c_str(), 0660) != 0) return;
    struct group entry {};
    struct group* found = nullptr;
    char buffer[1024];
    if (::getgrnam_r(kStoreGroup, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return;
    if (::chown(file.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0) {
        // Not a member of the group: the file keeps the creator's group.
    }
}

std::unique_ptr<Store> Store::open(const std::string& file, bool readOnly, std::string& reason) {
    // The connection is used under g_mutex only, so SQLite's own connection mutex is not needed.
    const int flags =
        SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI |
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3* raw = openConnection(readOnly ? fileUri(file, "mode=ro") : fileUri(file, "mode=rwc"),
                                  flags, reason);
    if (raw == nullptr) {
        reason = "cannot open " + file + ": " + reason;
        return nullptr;
    }
    std::unique_ptr<Store> store(new Store(raw, file));
    FileKind kind;
    try {
        // Reading the header and the schema is what tells a settings store from any other file;
        // nothing is written before that has been decided.
        kind = inspect(*store);
    } catch (const DbError& e) {
        // A process that may not write the folder cannot make the write-ahead log's index. With
        // no log file present no process has the store open, so the file alone is the store:
        // it is read as it stands, afresh for every call (see transient()).
        std::error_code ec;
        const int code = e.rc & 0xff;
        if ((code == SQLITE_READONLY || code == SQLITE_CANTOPEN) &&
            !std::filesystem::exists(file + "-wal", ec)) {
            store.reset();
            raw = openConnection(fileUri(file, "immutable=1"),
                                 SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI | SQLITE_OPEN_READONLY,
                                 reason);
            if (raw == nullptr) {
                reason = "cannot open " + file + ": " + reason;
                return nullptr;
            }
            store.reset(new Store(raw, file));
            store->transient_ = true;
            try {
                kind = inspect(*store);
            } catch (const DbError& again) {
                reason = file + " cannot be read: " + sqlite3_errstr(again.rc);
                return nullptr;
            }
        } else if (code == SQLITE_NOTADB) {
            reason = file + " is not a settings store (not a database)";
            return nullptr;
        } else {
            reason = file + " cannot be read: " + sqlite3_errstr(e.rc);
            return nullptr;
        }
    }
    if (reason = refusal(kind, file); !reason.empty()) return nullptr;
    if (kind.empty && (readOnly || store->transient_)) {
        reason = "no settings store at " + file + " (the file is empty)";
        return nullptr;
    }
    if (readOnly || store->transient_) return store;
    try {
        // WAL lets readers go on while one writer commits. Switching needs a moment of exclusive
        // access; when another process holds the file the switch is left to a later opener.
        sqlite3_exec(raw, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        // In WAL mode NORMAL keeps the database consistent across a crash of any process; only
        // a power cut may lose the last commits.
        sqlite3_exec(raw, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        if (kind.empty) {
            shareWithGroup(file);
            store->setUp();
        }
    } catch (const DbError& e) {
        reason = file + " is not usable: " + sqlite3_errstr(e.rc);
        return nullptr;
    }
    if (kind.applicationId == 0) {
        // A store made before the application id gets it; one this process may only read
        // is used as it is.
        try {
            store->setUp();
        } catch (const DbError&) {
        }
    }
    return store;
}

std::mutex g_mutex; // guards g_store, g_reported, g_problem and every use of the connection
// Owned through the unique_ptr but never destroyed with the static objects: a thread still
// using the store while the process exits must not find the connection gone under it. The
// connection is closed at exit by closeAtExit instead, under g_mutex.
std::unique_ptr<Store>& g_store = *new std::unique_ptr<Store>;
std::atomic<bool> g_readOnly{false};
// Kinds of failure already logged since the store last opened, so that a store that stays
// unusable is reported once and not at every access.
std::set<std::string>& g_reported = *new std::set<std::string>;
std::string& g_problem = *new std::string; // the last failure, for probeStore

// A process that ends closes the store (and so checkpoints it, ~Store). A thread that uses the
// store after this opens it again.
void closeAtExit() {
    std::lock_guard lock(g_mutex);
    if (g_store && g_store->pid() != ::getpid()) g_store->leak(); // a forked child's copy
    g_store.reset();
}

// While set, failures are only recorded for the caller (probeStore reports them itself).
bool g_quiet = false;

// Logs a failure of the store once per kind. Called under g_mutex.
void reportProblem(const std::string& kind, const std::string& text) {
    g_problem = text;
    if (g_quiet) return;
    if (g_reported.insert(kind).second)
        KVR_LOG_WARN("registry: %s", text.c_str());
    else
        KVR_LOG_DEBUG("registry: %s", text.c_str());
}

// Creates the state folder when it is missing; false with the reason logged when it cannot.
bool makeStateDir(const std::filesystem::path& dir) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return true;
    if (std::filesystem::exists(dir, ec)) {
        reportProblem("folder", "the state folder " + dir.string() + " is not a folder");
        return false;
    }
    std::filesystem::create_directories(dir, ec);
    if (std::filesystem::is_directory(dir)) return true;
    reportProblem("folder", "cannot create the state folder " + dir.string() + ": " +
                                (ec ? ec.message() : std::string("not a folder")));
    return false;
}

enum class Need { Read, Write };

// The connection for this process's current KVR_STATE_DIR, opened when needed; nullptr when
// the store cannot be used, and for a read when there is no store at all (`absent` set then:
// nothing is created for a read). Called under g_mutex.
Store* acquire(Need need, bool* absent = nullptr) {
    const auto dir = paths::stateDir();
    const std::string file = (dir / "registry.db").string();
    if (g_store && g_store->pid() != ::getpid()) {
        g_store->leak();
        g_store.reset();
    }
    if (g_store && g_store->file() != file) g_store.reset();
    if (g_store) return g_store.get();

    const bool readOnly = g_readOnly.load();
    struct stat st {};
    if ((need == Need::Read || readOnly) && ::stat(file.c_str(), &st) != 0 && errno == ENOENT) {
        if (absent != nullptr) *absent = true;
        g_problem = "no settings store at " + file;
        return nullptr;
    }
    if (!readOnly && !makeStateDir(dir)) return nullptr;
    std::string reason;
    g_store = Store::open(file, readOnly, reason);
    if (!g_store) {
        reportProblem("open " + reason, reason);
        return nullptr;
    }
    // A process that ends closes the store, and so folds the log back into registry.db.
    static const bool closesAtExit = std::atexit(closeAtExit) == 0;
    (void)closesAtExit;
    g_reported.clear();
    g_problem.clear();
    return g_store.get();
}

// Runs `body(store)` as one transaction (IMMEDIATE for writers, so two writers never deadlock
// upgrading their locks). The body returns the result for the caller; anything but Ok from a
// writer rolls back. A database error anywhere gives AccessDenied; a read of a store that does
// not exist gives NotFound.
template <class Body> Status transact(bool write, Body&& body) {
    std::lock_guard lock(g_mutex);
    if (write && g_readOnly.load()) return Status::AccessDenied;
    try {
        bool absent = false;
        Store* store = acquire(write ? Need::Write : Need::Read, &absent);
        if (store == nullptr) return absent && !write ? Status::NotFound : Status::AccessDenied;
        store->exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
        Status result = Status::AccessDenied;
        try {
            result = body(*store);
            if (result == Status::Ok || !write)
                store->exec("COMMIT");
            else
                store->exec("ROLLBACK");
        } catch (...) {
            try {
                store->exec("ROLLBACK");
            } catch (const DbError&) {
                // Nothing more to undo: SQLite already rolled back.
            }
            throw;
        }
        if (store->transient()) g_store.reset();
        return result;
    } catch (const DbError& e) {
        const std::string file = g_store ? g_store->file() : std::string("the store");
        reportProblem("db " + std::to_string(e.rc), file + ": " + sqlite3_errstr(e.rc));
        if (connectionBroken(e.rc)) g_store.reset();
        return Status::AccessDenied;
    } catch (...) {
        return Status::AccessDenied;
    }
}

// Looks up a key's row id; nullopt when some name on the way does not exist.
std::optional<int64_t> findKey(Store& store, const ParsedPath& p) {
    auto id = static_cast<int64_t>(p.hive);
    for (std::string_view name : p.names) {
        Stmt q(store, kFindChild);
        q.bind(1, id).bind(2, detail::foldCase(name));
        if (!q.step()) return std::nullopt;
        id = q.int64(0);
    }
    return id;
}

// The row id of a key, created with its missing parents inside the running transaction.
int64_t ensureKey(Store& store, const ParsedPath& p) {
    auto id = static_cast<int64_t>(p.hive);
    for (std::string_view name : p.names) {
        const std::string folded = detail::foldCase(name);
        Stmt q(store, kFindChild);
        q.bind(1, id).bind(2, folded);
        if (q.step()) {
            id = q.int64(0);
            continue;
        }
        Stmt ins(store, kInsertKey);
        ins.bind(1, id).bind(2, name).bind(3, folded);
        ins.step();
        id = store.lastInsertId();
    }
    return id;
}

bool validValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength && name.find('\0') == std::string_view::npos;
}

Value readValue(const Stmt& q) {
    Value v;
    v.name = q.text(0);
    v.type = q.int64(1) == static_cast<int64_t>(Type::Sz) ? Type::Sz : Type::Dword;
    if (v.type == Type::Sz)
        v.sz = q.text(2);
    else
        v.dword = static_cast<uint32_t>(q.int64(2));
    return v;
}

Status readValueAt(std::string_view path, std::string_view name, Value& out) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    if (!validValueName(name)) return Status::InvalidArgument;
    return transact(false, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        Stmt q(store, kFindValue);
        q.bind(1, *key).bind(2, detail::foldCase(name));
        if (!q.step()) return Status::NotFound;
        out = readValue(q);
        return Status::Ok;
    });
}

} // namespace

Status createKey(std::string_view path) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    return transact(true, [&](Store& store) {
        ensureKey(store, p);
        return Status::Ok;
    });
}

Status keyExists(std::string_view path) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    return transact(
        false, [&](Store& store) { return findKey(store, p) ? Status::Ok : Status::NotFound; });
}

Status deleteKey(std::string_view path) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    if (p.names.empty()) return Status::InvalidArgument; // a hive itself cannot be deleted
    return transact(true, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        {
            Stmt d(store, kDeleteSubtreeValues);
            d.bind(1, *key).step();
        }
        Stmt d(store, kDeleteSubtreeKeys);
        d.bind(1, *key).step();
        return Status::Ok;
    });
}

// A key's row id and its full path with every name as created; nullopt when some name on the
// way does not exist.
struct FoundKey {
    int64_t id;
    std::string path;
};
std::optional<FoundKey> findCanonical(Store& store, const ParsedPath& p) {
    FoundKey found{static_cast<int64_t>(p.hive), detail::hiveName(p.hive)};
    for (std::string_view name : p.names) {
        Stmt q(store, kFindChild);
        q.bind(1, found.id).bind(2, detail::foldCase(name));
        if (!q.step()) return std::nullopt;
        found.id = q.int64(0);
        found.path += '\\';
        found.path += q.text(1);
    }
    return found;
}

Status canonicalPath(std::string_view path, std::string& out) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    return transact(false, [&](Store& store) {
        auto found = findCanonical(store, p);
        if (!found) return Status::NotFound;
        out = std::move(found->path);
        return Status::Ok;
    });
}

Status queryValue(std::string_view path, std::string_view name, Value& out) {
    return readValueAt(path, name, out);
}

Status queryDword(std::string_view path, std::string_view name, uint32_t& out) {
    Value v;
    const Status s = readValueAt(path, name, v);
    if (s != Status::Ok) return s;
    if (v.type != Type::Dword) return Status::TypeMismatch;
    out = v.dword;
    return Status::Ok;
}

Status querySz(std::string_view path, std::string_view name, std::string& out) {
    Value v;
    const Status s = readValueAt(path, name, v);
    if (s != Status::Ok) return s;
    if (v.type != Type::Sz) return Status::TypeMismatch;
    out = std::move(v.sz);
    return Status::Ok;
}

namespace {

bool validValue(const Value& value) {
    return validValueName(value.name) && (value.type == Type::Sz || value.type == Type::Dword);
}

void upsertValue(Store& store, int64_t key, const Value& value) {
    Stmt up(store, kUpsertValue);
    up.bind(1, key).bind(2, value.name).bind(3, detail::foldCase(value.name));
    up.bind(4, static_cast<int64_t>(value.type));
    if (value.type == Type::Sz)
        up.bind(5, value.sz);
    else
        up.bind(5, static_cast<int64_t>(value.dword));
    up.step();
}

} // namespace

Status setValue(std::string_view path, const Value& value) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    if (!validValue(value)) return Status::InvalidArgument;
    return transact(true, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        upsertValue(store, *key, value);
        return Status::Ok;
    });
}

Status replaceValues(std::string_view path, const std::vector<Value>& values) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    for (const Value& value : values)
        if (!validValue(value)) return Status::InvalidArgument;
    return transact(true, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        Stmt d(store, kDeleteKeyValues);
        d.bind(1, *key).step();
        for (const Value& value : values)
            upsertValue(store, *key, value);
        return Status::Ok;
    });
}

Status importKeys(const std::vector<KeyValues>& keys) {
    std::vector<ParsedPath> parsed(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (Status s = detail::parsePath(keys[i].path, parsed[i]); s != Status::Ok) return s;
        for (const Value& value : keys[i].values)
            if (!validValue(value)) return Status::InvalidArgument;
    }
    return transact(true, [&](Store& store) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const int64_t id = ensureKey(store, parsed[i]);
            for (const Value& value : keys[i].values)
                upsertValue(store, id, value);
        }
        return Status::Ok;
    });
}

Status exportKeys(const std::vector<std::string>& roots, std::vector<KeyValues>& out) {
    std::vector<ParsedPath> parsed(roots.size());
    for (std::size_t i = 0; i < roots.size(); ++i)
        if (Status s = detail::parsePath(roots[i], parsed[i]); s != Status::Ok) return s;
    return transact(false, [&](Store& store) {
        std::vector<KeyValues> keys;
        for (const ParsedPath& root : parsed) {
            auto found = findCanonical(store, root);
            if (!found) return Status::NotFound;
            // Depth first without recursion (a tree may be deeper than the stack): children are
            // pushed last first, so they come out in creation order.
            std::vector<FoundKey> pending{std::move(*found)};
            while (!pending.empty()) {
                FoundKey key = std::move(pending.back());
                pending.pop_back();
                Stmt q(store, kListValues);
                q.bind(1, key.id);
                std::vector<Value> values;
                while (q.step())
                    values.push_back(readValue(q));
                Stmt sub(store, kListSubkeyIds);
                sub.bind(1, key.id);
                while (sub.step())
                    pending.push_back({sub.int64(0), key.path + '\\' + sub.text(1)});
                keys.push_back({std::move(key.path), std::move(values)});
            }
        }
        out = std::move(keys);
        return Status::Ok;
    });
}

Status setDword(std::string_view path, std::string_view name, uint32_t data) {
    Value v;
    v.name = name;
    v.type = Type::Dword;
    v.dword = data;
    return setValue(path, v);
}

Status setSz(std::string_view path, std::string_view name, std::string_view data) {
    Value v;
    v.name = name;
    v.type = Type::Sz;
    v.sz = data;
    return setValue(path, v);
}

Status deleteValue(std::string_view path, std::string_view name) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    if (!validValueName(name)) return Status::InvalidArgument;
    return transact(true, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        Stmt d(store, kDeleteValue);
        d.bind(1, *key).bind(2, detail::foldCase(name)).step();
        return store.changes() > 0 ? Status::Ok : Status::NotFound;
    });
}

Status enumValues(std::string_view path, std::vector<Value>& out) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    return transact(false, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        std::vector<Value> values;
        Stmt q(store, kListValues);
        q.bind(1, *key);
        while (q.step())
            values.push_back(readValue(q));
        out = std::move(values);
        return Status::Ok;
    });
}

Status enumSubkeys(std::string_view path, std::vector<std::string>& out) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    return transact(false, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        std::vector<std::string> names;
        Stmt q(store, kListSubkeys);
        q.bind(1, *key);
        while (q.step())
            names.push_back(q.text(0));
        out = std::move(names);
        return Status::Ok;
    });
}

const char* statusText(Status status) {
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::NotFound:
        return "not found";
    case Status::AccessDenied:
        return "access denied";
    case Status::InvalidArgument:
        return "invalid argument";
    case Status::TypeMismatch:
        return "type mismatch";
    }
    return "unknown status";
}

Status probeStore(std::string& reason) {
    std::lock_guard lock(g_mutex);
    const bool readOnly = g_readOnly.load();
    bool absent = false;
    g_quiet = true;
    Store* store = acquire(readOnly ? Need::Read : Need::Write, &absent);
    g_quiet = false;
    if (store == nullptr) {
        reason = g_problem;
        return absent ? Status::NotFound : Status::AccessDenied;
    }
    const bool transient = store->transient();
    if (transient) g_store.reset();
    if (readOnly) return Status::Ok;
    if (transient) {
        reason = (paths::stateDir() / "registry.db").string() + " cannot be written by this user";
        return Status::AccessDenied;
    }
    // A file this process may read but not write opens read-only without a word: try a write
    // transaction, which changes nothing.
    try {
        store->exec("BEGIN IMMEDIATE");
        store->exec("ROLLBACK");
    } catch (const DbError& e) {
        reason = store->file() + " cannot be written: " + sqlite3_errstr(e.rc);
        if (connectionBroken(e.rc)) g_store.reset();
        return Status::AccessDenied;
    }
    return Status::Ok;
}

void useReadOnly() {
    std::lock_guard lock(g_mutex);
    if (!g_readOnly.exchange(true) && g_store) {
        if (g_store->pid() != ::getpid()) g_store->leak();
        g_store.reset();
    }
}

std::string invalidReason(std::string_view path, std::string_view valueName) {
    ParsedPath p;
    std::string why;
    if (detail::parsePath(path, p, &why) != Status::Ok) return why;
    if (valueName.size() > kMaxValueNameLength)
        return "value name too long (" + std::to_string(valueName.size()) +
               " characters; at most " + std::to_string(kMaxValueNameLength) + ")";
    if (valueName.find('\0') != std::string_view::npos) return "value name has a NUL character";
    return {};
}

void closeStore() {
    std::lock_guard lock(g_mutex);
    if (g_store && g_store->pid() != ::getpid()) g_store->leak();
    g_store.reset();
}

} // namespace kvr::reg
