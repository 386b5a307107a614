// Registry store under several writers: processes and threads at once, a killed writer.

#include "platform/registry/registry.h"
#include "tests/support/test_env.h"

#include <atomic>
#include <gtest/gtest.h>
#include <map>
#include <signal.h>
#include <sqlite3.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kvr::reg {
namespace {

// A key of the running test's own, so the cases also pass when run in one process.
std::string testKey() {
    return std::string("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\Stress\\") +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

std::vector<std::string> names(const std::vector<Value>& values) {
    std::vector<std::string> out;
    for (const auto& v : values)
        out.push_back(v.name);
    return out;
}

std::string valueName(int writer, int n) {
    return "w" + std::to_string(writer) + "_" + std::to_string(n);
}

// Runs `body` in a forked child whose exit code is body's result. The child gets its own
// connection to the store (the parent's is never used across fork).
pid_t forkChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

int waitExitCode(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every value of every writer is there with its own data, and each writer's values keep the
// order it wrote them in.
void expectAllWrites(const std::string& key, int writers, int perWriter) {
    std::vector<Value> values;
    ASSERT_EQ(enumValues(key, values), Status::Ok);
    ASSERT_EQ(values.size(), static_cast<std::size_t>(writers * perWriter));
    std::map<int, int> nextOf;
    for (const auto& v : values) {
        int w = 0, n = 0;
        ASSERT_EQ(std::sscanf(v.name.c_str(), "w%d_%d", &w, &n), 2) << v.name;
        EXPECT_EQ(n, nextOf[w]) << v.name;
        nextOf[w] = n + 1;
        EXPECT_EQ(v.type, Type::Dword);
        EXPECT_EQ(v.dword, static_cast<uint32_t>(w * 100000 + n)) << v.name;
    }
}

TEST(RegistryConcurrency, FourProcessesWritingAtOnceLoseNothing) {
    const std::string stressKey = testKey();
    constexpr int kWriters = 4, kPerWriter = 1000;
    closeStore();
    std::vector<pid_t> pids;
    for (int w = 0; w < kWriters; ++w) {
        pids.push_back(forkChild([w, &stressKey] {
            // Each child creates the key itself, so the creations race as well.
            if (createKey(stressKey) != Status::Ok) return 10;
            for (int n = 0; n < kPerWriter; ++n)
                if (setDword(stressKey, valueName(w, n), static_cast<uint32_t>(w * 100000 + n)) !=
                    Status::Ok)
                    return 11;
            return 0;
        }));
        ASSERT_GT(pids.back(), 0);
    }
    for (pid_t pid : pids)
        EXPECT_EQ(waitExitCode(pid), 0);
    expectAllWrites(stressKey, kWriters, kPerWriter);
}

TEST(RegistryConcurrency, ThreadsOfOneProcessShareTheStoreSafely) {
    const std::string stressKey = testKey();
    constexpr int kWriters = 4, kPerWriter = 500;
    ASSERT_EQ(createKey(stressKey), Status::Ok);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([w, &failures, &stressKey] {
            for (int n = 0; n < kPerWriter; ++n) {
                if (setDword(stressKey, valueName(w, n), static_cast<uint32_t>(w * 100000 + n)) !=
                    Status::Ok)
                    ++failures;
                uint32_t back = 0;
                if (queryDword(stressKey, valueName(w, n), back) != Status::Ok ||
                    back != static_cast<uint32_t>(w * 100000 + n))
                    ++failures;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    expectAllWrites(stressKey, kWriters, kPerWriter);
}

// A writer in another process replaces one large value again and again; every read sees one
// whole version of it, never a mix.
TEST(RegistryConcurrency, ReaderNeverSeesAHalfWrittenValue) {
    const std::string stressKey = testKey();
    constexpr std::size_t kSize = 64 * 1024;
    constexpr int kRounds = 300;
    ASSERT_EQ(createKey(stressKey), Status::Ok);
    ASSERT_EQ(setSz(stressKey, "Blob", std::string(kSize, 'a')), Status::Ok);
    closeStore();
    const pid_t writer = forkChild([&stressKey] {
        for (int i = 0; i < kRounds; ++i) {
            const char fill = static_cast<char>('a' + i % 26);
            if (setSz(stressKey, "Blob", std::string(kSize / 2 + (i % 2) * kSize / 2, fill)) !=
                Status::Ok)
                return 1;
        }
        return 0;
    });
    ASSERT_GT(writer, 0);

    int reads = 0, bad = 0;
    int status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        std::string s;
        ASSERT_EQ(querySz(stressKey, "Blob", s), Status::Ok);
        ++reads;
        const bool whole = (s.size() == kSize || s.size() == kSize / 2) &&
                           s.find_first_not_of(s[0]) == std::string::npos;
        if (!whole) ++bad;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
}

// A list replaced as a whole (the serial port map) is seen old or new, never empty or mixed;
// a list with an invalid entry changes nothing.
TEST(RegistryConcurrency, ReplacedListIsSeenWhole) {
    const std::string key = testKey();
    auto list = [](std::vector<std::string> names) {
        std::vector<Value> values;
        for (auto& n : names)
            values.push_back(Value{std::move(n), Type::Sz, 0, "COM1"});
        return values;
    };
    const std::vector<Value> lists[] = {list({"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0"}),
                                        list({"/dev/ttyUSB1", "/dev/ttyS1"})};
    ASSERT_EQ(createKey(key), Status::Ok);
    ASSERT_EQ(replaceValues(key, lists[0]), Status::Ok);
    closeStore();
    const pid_t writer = forkChild([&] {
        for (int i = 1; i <= 300; ++i)
            if (replaceValues(key, lists[i % 2]) != Status::Ok) return 1;
        return 0;
    });
    ASSERT_GT(writer, 0);
    int bad = 0, status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        std::vector<Value> seen;
        ASSERT_EQ(enumValues(key, seen), Status::Ok);
        if (names(seen) != names(lists[0]) && names(seen) != names(lists[1])) ++bad;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(bad, 0);

    auto invalid = lists[1];
    invalid.push_back(Value{std::string("bad\0name", 8), Type::Sz, 0, "COM2"});
    EXPECT_EQ(replaceValues(key, invalid), Status::InvalidArgument);
    std::vector<Value> kept;
    ASSERT_EQ(enumValues(key, kept), Status::Ok);
    EXPECT_EQ(names(kept), names(lists[0])); // the writer's last list
}

// An export taken while another process changes a key and its subkey together holds both
// from the same change: a backup never mixes two calibrations.
TEST(RegistryConcurrency, ExportIsOneSnapshot) {
    const std::string key = testKey();
    const auto change = [&](std::uint32_t n) {
        return std::vector<KeyValues>{{key, {Value{"Round", Type::Dword, n, {}}}},
                                      {key + "\\Sub", {Value{"Round", Type::Dword, n, {}}}}};
    };
    ASSERT_EQ(importKeys(change(0)), Status::Ok);
    closeStore();
    const pid_t writer = forkChild([&] {
        for (std::uint32_t i = 1; i <= 1000; ++i)
            if (importKeys(change(i)) != Status::Ok) return 1;
        return 0;
    });
    ASSERT_GT(writer, 0);
    int bad = 0, status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        std::vector<KeyValues> seen;
        ASSERT_EQ(exportKeys({key}, seen), Status::Ok);
        ASSERT_EQ(seen.size(), 2U);
        EXPECT_EQ(seen[1].path, seen[0].path + "\\Sub");
        if (seen[0].values.at(0).dword != seen[1].values.at(0).dword) ++bad;
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(bad, 0);
}

// Checks the file itself with SQLite, apart from the store's own code.
std::string integrityCheck() {
    sqlite3* db = nullptr;
    const auto file = test::stateDir() / "registry.db";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open";
    }
    std::string result = "no result";
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        result = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    sqlite3_finalize(st);
    sqlite3_close(db);
    return result;
}

TEST(RegistryConcurrency, WriterKilledMidWritesLeavesAUsableStore) {
    const std::string stressKey = testKey();
    ASSERT_EQ(createKey(stressKey), Status::Ok);
    closeStore();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const std::string key = stressKey + "\\Round" + std::to_string(round);
        const pid_t writer = forkChild([key] {
            if (createKey(key) != Status::Ok) return 1;
            for (uint32_t n = 0;; ++n) {
                // Values and keys together, so the kill can land in either kind of write.
                setDword(key, "v" + std::to_string(n), n);
                setSz(key, "text", std::string(1000 + n % 5000, static_cast<char>('a' + n % 26)));
                if (n % 16 == 0) createKey(key + "\\Sub" + std::to_string(n));
            }
        });
        ASSERT_GT(writer, 0);
        ASSERT_TRUE(test::waitUntil([&] {
            uint32_t v = 0;
            return queryDword(key, "v" + std::to_string(200 + round * 150), v) == Status::Ok;
        }));
        ASSERT_EQ(::kill(writer, SIGKILL), 0);
        EXPECT_EQ(waitExitCode(writer), 128 + SIGKILL);

        EXPECT_EQ(integrityCheck(), "ok");
        // Every committed value is whole and they run without a gap.
        std::vector<Value> values;
        ASSERT_EQ(enumValues(key, values), Status::Ok);
        uint32_t expect = 0;
        for (const auto& v : values) {
            if (v.name == "text") {
                EXPECT_EQ(v.sz.find_first_not_of(v.sz[0]), std::string::npos);
                continue;
            }
            EXPECT_EQ(v.name, "v" + std::to_string(expect));
            EXPECT_EQ(v.dword, expect);
            ++expect;
        }
        EXPECT_GT(expect, 200u);
        // The store goes on working, here and in a fresh connection.
        EXPECT_EQ(setDword(key, "after", 1), Status::Ok);
        closeStore();
        uint32_t after = 0;
        EXPECT_EQ(queryDword(key, "after", after), Status::Ok);
        EXPECT_EQ(after, 1u);
        closeStore();
    }
}

} // namespace
} // namespace kvr::reg
