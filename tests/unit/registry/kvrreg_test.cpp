// kvrreg: output and exit codes (0 done, 1 no such key/value, 2 bad arguments, 3 store unusable).

#include "platform/registry/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kvr::test {
namespace {

RunResult kvrreg(std::vector<std::string> args) {
    return runProgram(program("kvrreg"), std::move(args));
}

constexpr const char* kKvr = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";

TEST(Kvrreg, SetThenQueryInEveryPathForm) {
    ASSERT_EQ(kvrreg({"set", kKvr, "RS232_DEVICE0", "dword", "1"}).exitCode, 0);
    ASSERT_EQ(kvrreg({"set",
                      "\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\"
                      "Device0",
                      "Rotation", "dword", "0x10"})
                  .exitCode,
              0);
    ASSERT_EQ(
        kvrreg({"set", "HKEY_CURRENT_USER\\Control Panel\\Mouse", "DoubleClickSpeed", "sz", "500"})
            .exitCode,
        0);

    auto r = kvrreg({"query", "hkey_local_machine\\system\\currentcontrolset\\control\\kvr"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Kvr\n"
                     "    RS232_DEVICE0    REG_DWORD    0x1\n"
                     "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\n");
    r = kvrreg(
        {"query", "hklm\\system\\currentcontrolset\\control\\kvr\\rs232\\device0", "ROTATION"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "    Rotation    REG_DWORD    0x10\n");
    r = kvrreg({"query", "HKCU\\control panel\\mouse", "doubleclickspeed"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "    DoubleClickSpeed    REG_SZ    500\n");
    // The library sees what the tool wrote.
    uint32_t rotation = 0;
    EXPECT_EQ(reg::queryDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\RS232\\Device0",
                              "Rotation", rotation),
              reg::Status::Ok);
    EXPECT_EQ(rotation, 16u);
}

TEST(Kvrreg, DwordDataForms) {
    struct Case {
        const char* data;
        int exitCode;
        uint32_t value;
    } cases[] = {
        {"0", 0, 0},           {"10", 0, 10},          {"0xA", 0, 10},
        {"0X0000000a", 0, 10}, {"4294967295", 0, ~0u}, {"0xFFFFFFFF", 0, ~0u},
        {"4294967296", 2, 0},  {"0x100000000", 2, 0},  {"-1", 2, 0},
        {"12abc", 2, 0},       {"0x", 2, 0},           {"", 2, 0},
        {" 1", 2, 0},          {"0x-1", 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data);
        reg::deleteValue(kKvr, "v");
        const auto r = kvrreg({"set", kKvr, "v", "dword", c.data});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        uint32_t v = 0;
        const auto s = reg::queryDword(kKvr, "v", v);
        if (c.exitCode == 0) {
            EXPECT_EQ(s, reg::Status::Ok);
            EXPECT_EQ(v, c.value);
        } else {
            EXPECT_EQ(s, reg::Status::NotFound);
            EXPECT_NE(r.err.find("kvrreg:"), std::string::npos);
        }
    }
}

TEST(Kvrreg, ExitCodes) {
    ASSERT_EQ(kvrreg({"set", kKvr, "present", "sz", "x"}).exitCode, 0);
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* errText;
    } cases[] = {
        {{"query", "HKLM\\Nope"}, 1, "no such key"},
        {{"query", kKvr, "absent"}, 1, "no such key or value"},
        {{"query", "HKLM\\Nope", "present"}, 1, "no such key or value"},
        {{"delete", "HKLM\\Nope"}, 1, "no such key"},
        {{"delete", kKvr, "absent"}, 1, "no such key or value"},
        {{"export", "HKLM\\Nope"}, 1, "no such key"},
        {{}, 2, "missing command"},
        {{"frobnicate"}, 2, "unknown command"},
        {{"query"}, 2, "query needs"},
        {{"query", "a", "b", "c"}, 2, "query needs"},
        {{"set", kKvr, "v", "dword"}, 2, "set needs"},
        {{"set", kKvr, "v", "qword", "1"}, 2, "unknown value type"},
        {{"set", "NOHIVE\\x", "v", "sz", "1"}, 2, "unknown hive 'NOHIVE'"},
        {{"query", "HKEY_USERS\\x"}, 2, "unknown hive 'HKEY_USERS'"},
        {{"delete", "HKLM"}, 2, "a hive cannot be deleted"},
        {{"set", kKvr, std::string(16384, 'v'), "sz", "1"}, 2, "value name too long (16384"},
        {{"query", std::string(kKvr) + "\\" + std::string(300, 'k')}, 2, "key name too long"},
        {{"export", "a", "b"}, 2, "at most one"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0]);
        const auto r = kvrreg(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.errText), std::string::npos) << r.err;
    }
    // Failed commands changed nothing.
    std::string s;
    EXPECT_EQ(reg::querySz(kKvr, "present", s), reg::Status::Ok);
}

TEST(Kvrreg, DeleteValueThenKey) {
    ASSERT_EQ(kvrreg({"set", std::string(kKvr) + "\\RS232\\Device0", "a", "dword", "1"}).exitCode,
              0);
    ASSERT_EQ(kvrreg({"set", std::string(kKvr) + "\\RS232\\Device0", "b", "dword", "2"}).exitCode,
              0);
    EXPECT_EQ(kvrreg({"delete", std::string(kKvr) + "\\rs232\\device0", "A"}).exitCode, 0);
    EXPECT_EQ(kvrreg({"query", std::string(kKvr) + "\\RS232\\Device0", "a"}).exitCode, 1);
    EXPECT_EQ(kvrreg({"query", std::string(kKvr) + "\\RS232\\Device0", "b"}).exitCode, 0);
    EXPECT_EQ(kvrreg({"delete", std::string(kKvr) + "\\RS232"}).exitCode, 0);
    EXPECT_EQ(kvrreg({"query", std::string(kKvr) + "\\RS232\\Device0"}).exitCode, 1);
    EXPECT_EQ(kvrreg({"query", kKvr}).exitCode, 0);
}

TEST(Kvrreg, ExportIsARegFileDump) {
    ASSERT_EQ(kvrreg({"set", "HKLM\\Soft\\App", "Count", "dword", "10"}).exitCode, 0);
    ASSERT_EQ(kvrreg({"set", "HKLM\\Soft\\App", "Path", "sz", "C:\\dir \"q\""}).exitCode, 0);
    ASSERT_EQ(kvrreg({"set", "HKLM\\Soft\\App\\Sub", "", "sz", "default"}).exitCode, 0);
    ASSERT_EQ(kvrreg({"set", "HKCU\\U", "x", "REG_DWORD", "0xdeadbeef"}).exitCode, 0);
    ASSERT_EQ(kvrreg({"set", "HKCU\\U", "Lines", "Sz", "a\nb\xC3\xA9"}).exitCode, 0);
    ASSERT_EQ(kvrreg({"set", "HKCU\\U", "Count", "DWORD", "1"}).exitCode, 0);

    auto r = kvrreg({"export", "hklm\\soft"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "[HKEY_LOCAL_MACHINE\\Soft]\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\Soft\\App]\n"
                     "\"Count\"=dword:0000000a\n"
                     "\"Path\"=\"C:\\\\dir \\\"q\\\"\"\n"
                     "\n"
                     "[HKEY_LOCAL_MACHINE\\Soft\\App\\Sub]\n"
                     "@=\"default\"\n"
                     "\n");
    r = kvrreg({"export"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.find("[HKEY_LOCAL_MACHINE]\n"), 0u);
    // Text with control characters is written as .reg files write it: hex(1), UTF-16LE.
    EXPECT_NE(
        r.out.find("[HKEY_CURRENT_USER\\U]\n\"x\"=dword:deadbeef\n"
                   "\"Lines\"=hex(1):61,00,0a,00,62,00,e9,00,00,00\n\"Count\"=dword:00000001\n"),
        std::string::npos)
        << r.out;
}

// What export writes, import reads back byte for byte, into an empty store or over the same
// one; a file with any fault changes nothing.
TEST(Kvrreg, ImportReadsExportBackExactlyAndRefusesAFaultyFileWhole) {
    const std::string longText(70, 'x');
    const std::vector<std::vector<std::string>> sets = {
        {"HKLM\\Soft\\App", "Count", "dword", "0xffffffff"},
        {"HKLM\\Soft\\App", "Path", "sz", "C:\\dir \"q\" =[x]"},
        {"HKLM\\Soft\\App", "Tab\tName\\x41", "sz", ""},
        {"HKLM\\Soft\\App\\Sub", "", "sz", "default"},
        {"HKLM\\Soft\\App\\Sub", "Lines", "sz", "a\nb\xC3\xA9\xF0\x9F\x98\x80" + longText},
        {"HKLM\\Soft\\App\\Sub", "Broken", "sz", "\x01\xFF\xC3 not utf-8"},
        {"HKCU\\U", "x", "dword", "0"},
    };
    for (const auto& args : sets) {
        std::vector<std::string> set{"set"};
        set.insert(set.end(), args.begin(), args.end());
        ASSERT_EQ(kvrreg(set).exitCode, 0) << args[1];
    }
    const auto original = kvrreg({"export"});
    ASSERT_EQ(original.exitCode, 0) << original.err;
    const std::filesystem::path file = makeTempDir("export") / "settings.reg";
    std::ofstream(file, std::ios::binary) << original.out;

    // Over the same store: nothing changes. Into an empty one: the same store again.
    ASSERT_EQ(kvrreg({"import", file.string()}).exitCode, 0);
    EXPECT_EQ(kvrreg({"export"}).out, original.out);
    const std::string firstStore = ::getenv("KVR_STATE_DIR");
    ::setenv("KVR_STATE_DIR", makeTempDir("copy").c_str(), 1);
    const auto imported = kvrreg({"import", file.string()});
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_EQ(kvrreg({"export"}).out, original.out);
    ::setenv("KVR_STATE_DIR", firstStore.c_str(), 1);

    const struct {
        const char* fault;
        const char* where; // after three good lines
    } faults[] = {
        {"[HKEY_LOCAL_MACHINE\\Soft\n", ":4: "},
        {"[HKEY_LOCAL_MACHINE\\Soft]\n\"N\"=dword:123456789\n", ":5: "},
        {"[HKEY_LOCAL_MACHINE\\Soft]\n\"N\"=\"open\n", ":5: "},
        {"[HKEY_LOCAL_MACHINE\\Soft]\n\"N\"=hex(1):41,00\n", ":5: "},
        {"[HKEY_LOCAL_MACHINE\\Soft]\n\"N\\q\"=\"x\"\n", ":5: "},
        {"[HKEY_LOCAL_MACHINE\\Soft]\n\"N\"=hex:01\n", ":5: "},
        {"[HKEY_NOWHERE\\Soft]\n", ":4: "},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.fault);
        // Good keys and values before the fault are not written either.
        std::ofstream(file, std::ios::binary)
            << "[HKEY_LOCAL_MACHINE\\New]\r\n\"A\"=dword:00000001\r\n\r\n"
            << f.fault;
        const auto r = kvrreg({"import", file.string()});
        EXPECT_EQ(r.exitCode, 4);
        EXPECT_NE(r.err.find(f.where), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("nothing imported"), std::string::npos) << r.err;
        EXPECT_EQ(kvrreg({"export"}).out, original.out);
    }
    EXPECT_EQ(kvrreg({"import", (file.string() + ".missing")}).exitCode, 4);
}

TEST(Kvrreg, HelpGoesToStdout) {
    const auto r = kvrreg({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("Usage: kvrreg"), std::string::npos);
    EXPECT_NE(r.out.find("export [KEY]"), std::string::npos);
}

TEST(Kvrreg, CorruptStoreIsExitCodeThree) {
    ASSERT_EQ(kvrreg({"set", kKvr, "v", "dword", "1"}).exitCode, 0);
    reg::closeStore();
    std::filesystem::remove(stateDir() / "registry.db-wal");
    std::filesystem::remove(stateDir() / "registry.db-shm");
    std::ofstream(stateDir() / "registry.db", std::ios::trunc) << std::string(3000, '#');
    for (const std::vector<std::string>& args : {std::vector<std::string>{"query", kKvr},
                                                 {"set", kKvr, "v", "dword", "2"},
                                                 {"delete", kKvr},
                                                 {"export"}}) {
        SCOPED_TRACE(args[0]);
        const auto r = kvrreg(args);
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.err, "kvrreg: " + (stateDir() / "registry.db").string() +
                             " is not a settings store (not a database)\n");
    }
}

// A user who may read the store but not write it can query it, and nothing of the store
// changes. Root ignores file modes, so as root the commands run as nobody.
TEST(Kvrreg, QueryNeedsOnlyReadAccessAndChangesNothing) {
    namespace fs = std::filesystem;
    ASSERT_EQ(kvrreg({"set", kKvr, "v", "dword", "7"}).exitCode, 0);
    reg::closeStore();
    const fs::path db = stateDir() / "registry.db";
    const auto bytes = [&] {
        std::ostringstream all;
        all << std::ifstream(db, std::ios::binary).rdbuf();
        return all.str();
    };
    const std::string before = bytes();
    const auto readAndExecute = fs::perms::owner_read | fs::perms::owner_exec |
                                fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec;
    std::vector<std::string> prefix = {program("kvrreg").string()};
    if (::geteuid() == 0) {
        prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                  program("kvrreg").string()};
        fs::permissions(stateDir().parent_path(), readAndExecute | fs::perms::owner_write);
        // The store is the group's alone (0660); this user is let read it.
        fs::permissions(db, fs::perms::others_read, fs::perm_options::add);
    } else {
        fs::permissions(db, fs::perms::owner_read | fs::perms::group_read);
    }
    fs::permissions(stateDir(), readAndExecute);
    const auto as = [&](std::vector<std::string> args) {
        args.insert(args.begin(), prefix.begin(), prefix.end());
        return runProgram("/usr/bin/env", args);
    };
    if (as({"--version"}).exitCode != 0)
        GTEST_SKIP() << "the built kvrreg cannot be run as an unprivileged user here";
    const auto query = as({"query", kKvr, "v"});
    const auto exported = as({"export", kKvr});
    const auto set = as({"set", kKvr, "v", "dword", "8"});
    fs::permissions(stateDir(), fs::perms::owner_all);
    fs::permissions(db, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(query.exitCode, 0) << query.err;
    EXPECT_EQ(query.out, "    v    REG_DWORD    0x7\n");
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_NE(exported.out.find("\"v\"=dword:00000007"), std::string::npos);
    EXPECT_EQ(set.exitCode, 3);
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(stateDir()), fs::directory_iterator()), 1);
}

} // namespace
} // namespace kvr::test
