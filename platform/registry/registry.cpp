#include "platform/registry/registry.h"

#include "platform/common/log.h"
#include "platform/common/paths.h"
#include "platform/registry/registry_path.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <unistd.h>
#include <unordered_map>

namespace kvr::reg {

using detail::ParsedPath;

namespace {

// Bumped whenever the tables change shape; kept in PRAGMA user_version.
constexpr int kSchemaVersion = 1;

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
)sql";

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
constexpr const char* kListValues = "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id";
constexpr const char* kListSubkeys = "SELECT name FROM keys WHERE parent = ?1 ORDER BY id";

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
    // Opens (and creates) the database; nullptr with a logged reason when it is unusable.
    static std::unique_ptr<Store> open(const std::string& file);
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

std::unique_ptr<Store> Store::open(const std::string& file) {
    sqlite3* raw = nullptr;
    // The connection is used under g_mutex only, so SQLite's own connection mutex is not needed.
    int rc =
        sqlite3_open_v2(file.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        KVR_LOG_ERROR("registry: cannot open %s: %s", file.c_str(),
                      raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc));
        sqlite3_close_v2(raw);
        return nullptr;
    }
    std::unique_ptr<Store> store(new Store(raw, file));
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    try {
        // Reading the schema is what tells a database from some other file.
        int version = 0;
        {
            Stmt q(*store, "PRAGMA user_version");
            if (q.step()) version = static_cast<int>(q.int64(0));
        }
        // WAL lets readers go on while one writer commits. Switching needs a moment of exclusive
        // access; when another process holds the file the switch is left to a later opener.
        sqlite3_exec(raw, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        // In WAL mode NORMAL keeps the database consistent across a crash of any process; only
        // a power cut may lose the last commits.
        sqlite3_exec(raw, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
        if (version != kSchemaVersion) {
            store->exec("BEGIN IMMEDIATE");
            try {
                store->exec(kSchema);
                store->exec("COMMIT");
            } catch (const DbError&) {
                sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
                throw;
            }
        }
    } catch (const DbError& e) {
        KVR_LOG_ERROR("registry: %s is not usable: %s", file.c_str(), sqlite3_errstr(e.rc));
        return nullptr;
    }
    return store;
}

std::mutex g_mutex; // guards g_store and every use of its connection
// Owned through the unique_ptr but never destroyed with the static objects: a thread still
// using the store while the process exits must not find the connection gone under it. The
// connection is closed at exit by closeAtExit instead, under g_mutex.
std::unique_ptr<Store>& g_store = *new std::unique_ptr<Store>;

// A process that ends closes the store (and so checkpoints it, ~Store). A thread that uses the
// store after this opens it again.
void closeAtExit() {
    std::lock_guard lock(g_mutex);
    if (g_store && g_store->pid() != ::getpid()) g_store->leak(); // a forked child's copy
    g_store.reset();
}

// The connection for this process's current KVR_STATE_DIR, opened when needed. Called under
// g_mutex.
Store* acquire() {
    const auto dir = paths::stateDir();
    const std::string file = (dir / "registry.db").string();
    if (g_store && g_store->pid() != ::getpid()) {
        g_store->leak();
        g_store.reset();
    }
    if (g_store && g_store->file() != file) g_store.reset();
    if (!g_store) {
        if (!paths::ensureDir(dir)) {
            KVR_LOG_ERROR("registry: cannot create the state folder %s", dir.c_str());
            return nullptr;
        }
        g_store = Store::open(file);
        static const bool closesAtExit = std::atexit(closeAtExit) == 0;
        (void)closesAtExit;
    }
    return g_store.get();
}

// Runs `body(store)` as one transaction (IMMEDIATE for writers, so two writers never deadlock
// upgrading their locks). The body returns the result for the caller; anything but Ok from a
// writer rolls back. A database error anywhere gives AccessDenied.
template <class Body> Status transact(bool write, Body&& body) {
    std::lock_guard lock(g_mutex);
    try {
        Store* store = acquire();
        if (store == nullptr) return Status::AccessDenied;
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
        return result;
    } catch (const DbError& e) {
        KVR_LOG_WARN("registry: %s", sqlite3_errstr(e.rc));
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

Status canonicalPath(std::string_view path, std::string& out) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    return transact(false, [&](Store& store) {
        auto id = static_cast<int64_t>(p.hive);
        std::string result = detail::hiveName(p.hive);
        for (std::string_view name : p.names) {
            Stmt q(store, kFindChild);
            q.bind(1, id).bind(2, detail::foldCase(name));
            if (!q.step()) return Status::NotFound;
            id = q.int64(0);
            result += '\\';
            result += q.text(1);
        }
        out = std::move(result);
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

Status setValue(std::string_view path, const Value& value) {
    ParsedPath p;
    if (Status s = detail::parsePath(path, p); s != Status::Ok) return s;
    if (!validValueName(value.name)) return Status::InvalidArgument;
    if (value.type != Type::Sz && value.type != Type::Dword) return Status::InvalidArgument;
    return transact(true, [&](Store& store) {
        const auto key = findKey(store, p);
        if (!key) return Status::NotFound;
        Stmt up(store, kUpsertValue);
        up.bind(1, *key).bind(2, value.name).bind(3, detail::foldCase(value.name));
        up.bind(4, static_cast<int64_t>(value.type));
        if (value.type == Type::Sz)
            up.bind(5, value.sz);
        else
            up.bind(5, static_cast<int64_t>(value.dword));
        up.step();
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

void closeStore() {
    std::lock_guard lock(g_mutex);
    if (g_store && g_store->pid() != ::getpid()) g_store->leak();
    g_store.reset();
}

} // namespace kvr::reg
