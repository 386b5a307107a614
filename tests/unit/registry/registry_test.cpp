// Registry store: path forms, case rules, enumeration order, failure results.

#include "platform/registry/registry.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kvr::reg {
namespace {

std::vector<std::string> names(const std::vector<Value>& values) {
    std::vector<std::string> out;
    for (const auto& v : values)
        out.push_back(v.name);
    return out;
}

// Every spelling of one key, in both hive forms and any case, reaches the same key.
TEST(RegistryPaths, AllFormsNameTheSameKey) {
    ASSERT_EQ(createKey("\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr"),
              Status::Ok);
    ASSERT_EQ(setDword("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr", "RS232_DEVICE0", 1),
              Status::Ok);
    const char* forms[] = {
        "\\REGISTRY\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr",
        "\\registry\\MACHINE\\system\\currentcontrolset\\control\\KVR",
        "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Kvr",
        "hkey_local_machine\\SYSTEM\\CurrentControlSet\\Control\\Kvr\\",
        "HKLM\\SYSTEM\\\\CurrentControlSet\\Control\\Kvr",
        "hklm\\system\\currentcontrolset\\control\\kvr",
    };
    for (const char* path : forms) {
        SCOPED_TRACE(path);
        EXPECT_EQ(keyExists(path), Status::Ok);
        uint32_t v = 0;
        EXPECT_EQ(queryDword(path, "rs232_device0", v), Status::Ok);
        EXPECT_EQ(v, 1u);
        std::string canonical;
        EXPECT_EQ(canonicalPath(path, canonical), Status::Ok);
        EXPECT_EQ(canonical, "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Kvr");
    }
}

TEST(RegistryPaths, CurrentUserIsASeparateHive) {
    ASSERT_EQ(createKey("HKLM\\Control Panel\\Mouse"), Status::Ok);
    ASSERT_EQ(setSz("HKLM\\Control Panel\\Mouse", "DoubleClickSpeed", "100"), Status::Ok);
    EXPECT_EQ(keyExists("HKCU\\Control Panel\\Mouse"), Status::NotFound);
    ASSERT_EQ(createKey("HKEY_CURRENT_USER\\Control Panel\\Mouse"), Status::Ok);
    ASSERT_EQ(setSz("\\REGISTRY\\User\\control panel\\mouse", "DoubleClickSpeed", "500"),
              Status::Ok);
    std::string s;
    EXPECT_EQ(querySz("HKCU\\Control Panel\\Mouse", "doubleclickspeed", s), Status::Ok);
    EXPECT_EQ(s, "500");
    EXPECT_EQ(querySz("HKLM\\Control Panel\\Mouse", "DoubleClickSpeed", s), Status::Ok);
    EXPECT_EQ(s, "100");
}

TEST(RegistryPaths, MalformedPathsAndNamesAreRejected) {
    const std::string longName(kMaxKeyNameLength + 1, 'k');
    const std::string okName(kMaxKeyNameLength, 'k');
    struct Case {
        std::string path;
        Status expected;
    } cases[] = {
        {"", Status::InvalidArgument},
        {"\\", Status::InvalidArgument},
        {"SYSTEM\\CurrentControlSet", Status::InvalidArgument},
        {"HKEY_USERS\\x", Status::InvalidArgument},
        {"\\REGISTRY", Status::InvalidArgument},
        {"\\REGISTRY\\Other\\x", Status::InvalidArgument},
        {std::string("HKLM\\a\0b", 8), Status::InvalidArgument},
        {"HKLM\\" + longName, Status::InvalidArgument},
        {"HKLM\\" + okName, Status::Ok},
        {"HKLM", Status::Ok},
        {"\\REGISTRY\\Machine", Status::Ok},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(createKey(c.path), c.expected);
    }
    EXPECT_EQ(deleteKey("HKLM"), Status::InvalidArgument); // a hive stays
    EXPECT_EQ(setDword("HKLM", std::string("a\0b", 3), 1), Status::InvalidArgument);
    EXPECT_EQ(setDword("HKLM", std::string(kMaxValueNameLength + 1, 'v'), 1),
              Status::InvalidArgument);
    EXPECT_EQ(setDword("HKLM", std::string(kMaxValueNameLength, 'v'), 1), Status::Ok);
}

TEST(RegistryKeys, CreatePreservesCaseAndFindsWithout) {
    ASSERT_EQ(createKey("HKLM\\Software\\MixedCase\\Child"), Status::Ok);
    ASSERT_EQ(createKey("HKLM\\SOFTWARE\\MIXEDCASE\\CHILD"), Status::Ok); // exists already
    std::vector<std::string> subkeys;
    ASSERT_EQ(enumSubkeys("hklm\\software", subkeys), Status::Ok);
    EXPECT_EQ(subkeys, std::vector<std::string>{"MixedCase"});
    std::string canonical;
    ASSERT_EQ(canonicalPath("HKLM\\SOFTWARE\\mixedcase\\CHILD", canonical), Status::Ok);
    EXPECT_EQ(canonical, "HKEY_LOCAL_MACHINE\\Software\\MixedCase\\Child");
}

TEST(RegistryKeys, DeleteRemovesTheWholeSubtreeOnly) {
    ASSERT_EQ(createKey("HKLM\\T\\A\\B\\C"), Status::Ok);
    ASSERT_EQ(createKey("HKLM\\T\\Keep"), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\T\\A\\B", "v", 1), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\T\\A\\B\\C", "v", 2), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\T\\Keep", "v", 3), Status::Ok);
    EXPECT_EQ(deleteKey("hklm\\t\\a"), Status::Ok);
    EXPECT_EQ(keyExists("HKLM\\T\\A"), Status::NotFound);
    EXPECT_EQ(keyExists("HKLM\\T\\A\\B\\C"), Status::NotFound);
    EXPECT_EQ(deleteKey("HKLM\\T\\A"), Status::NotFound);
    uint32_t v = 0;
    EXPECT_EQ(queryDword("HKLM\\T\\Keep", "v", v), Status::Ok);
    EXPECT_EQ(v, 3u);
    // A key made again under the old name starts empty.
    ASSERT_EQ(createKey("HKLM\\T\\A\\B"), Status::Ok);
    std::vector<Value> values;
    ASSERT_EQ(enumValues("HKLM\\T\\A\\B", values), Status::Ok);
    EXPECT_TRUE(values.empty());
}

TEST(RegistryValues, NamesAreCaseInsensitiveAndKeepTheirFirstCase) {
    ASSERT_EQ(createKey("HKLM\\V"), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\V", "ReportMode", 2), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\V", "REPORTMODE", 3), Status::Ok);
    std::vector<Value> values;
    ASSERT_EQ(enumValues("HKLM\\V", values), Status::Ok);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "ReportMode");
    EXPECT_EQ(values[0].dword, 3u);
}

TEST(RegistryValues, TypesDataAndMismatch) {
    ASSERT_EQ(createKey("HKLM\\V"), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\V", "max", 0xFFFFFFFFu), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\V", "zero", 0), Status::Ok);
    ASSERT_EQ(setSz("HKLM\\V", "text", "C:\\a \"b\""), Status::Ok);
    ASSERT_EQ(setSz("HKLM\\V", "", "default"), Status::Ok);
    ASSERT_EQ(setSz("HKLM\\V", "empty", ""), Status::Ok);
    uint32_t d = 1;
    std::string s;
    EXPECT_EQ(queryDword("HKLM\\V", "max", d), Status::Ok);
    EXPECT_EQ(d, 0xFFFFFFFFu);
    EXPECT_EQ(queryDword("HKLM\\V", "zero", d), Status::Ok);
    EXPECT_EQ(d, 0u);
    EXPECT_EQ(querySz("HKLM\\V", "TEXT", s), Status::Ok);
    EXPECT_EQ(s, "C:\\a \"b\"");
    EXPECT_EQ(querySz("HKLM\\V", "", s), Status::Ok);
    EXPECT_EQ(s, "default");
    EXPECT_EQ(querySz("HKLM\\V", "empty", s), Status::Ok);
    EXPECT_EQ(s, "");
    EXPECT_EQ(queryDword("HKLM\\V", "text", d), Status::TypeMismatch);
    EXPECT_EQ(querySz("HKLM\\V", "max", s), Status::TypeMismatch);
    // A set may change the type.
    ASSERT_EQ(setSz("HKLM\\V", "max", "now text"), Status::Ok);
    Value v;
    ASSERT_EQ(queryValue("HKLM\\V", "max", v), Status::Ok);
    EXPECT_EQ(v.type, Type::Sz);
    EXPECT_EQ(v.sz, "now text");
}

TEST(RegistryValues, NotFoundTellsKeyAndValueApartFromFailure) {
    uint32_t d = 7;
    EXPECT_EQ(queryDword("HKLM\\Missing", "v", d), Status::NotFound);
    EXPECT_EQ(d, 7u);                                               // untouched
    EXPECT_EQ(setDword("HKLM\\Missing", "v", 1), Status::NotFound); // sets never create keys
    EXPECT_EQ(keyExists("HKLM\\Missing"), Status::NotFound);
    ASSERT_EQ(createKey("HKLM\\Present"), Status::Ok);
    EXPECT_EQ(queryDword("HKLM\\Present", "v", d), Status::NotFound);
    EXPECT_EQ(deleteValue("HKLM\\Present", "v"), Status::NotFound);
    EXPECT_EQ(deleteValue("HKLM\\Missing", "v"), Status::NotFound);
    std::vector<Value> values;
    EXPECT_EQ(enumValues("HKLM\\Missing", values), Status::NotFound);
    std::vector<std::string> keys;
    EXPECT_EQ(enumSubkeys("HKLM\\Missing", keys), Status::NotFound);
}

TEST(RegistryEnumeration, CreationOrderSurvivesUpdatesAndDeletes) {
    const char* key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Kvr";
    ASSERT_EQ(createKey(key), Status::Ok);
    // Not alphabetical on purpose.
    for (const char* n : {"USB_DEVICE1", "RS232_DEVICE3", "RS232_DEVICE0", "Zeta", "alpha"})
        ASSERT_EQ(setDword(key, n, 1), Status::Ok);
    ASSERT_EQ(setDword(key, "rs232_device3", 9), Status::Ok); // keeps its place
    ASSERT_EQ(deleteValue(key, "RS232_DEVICE0"), Status::Ok);
    ASSERT_EQ(setDword(key, "RS232_DEVICE0", 1), Status::Ok); // comes back last
    std::vector<Value> values;
    ASSERT_EQ(enumValues(key, values), Status::Ok);
    EXPECT_EQ(names(values), (std::vector<std::string>{"USB_DEVICE1", "RS232_DEVICE3", "Zeta",
                                                       "alpha", "RS232_DEVICE0"}));
    EXPECT_EQ(values[1].dword, 9u);

    for (const char* k : {"Device7", "device0", "Device3"})
        ASSERT_EQ(createKey(std::string(key) + "\\RS232\\" + k), Status::Ok);
    std::vector<std::string> subkeys;
    ASSERT_EQ(enumSubkeys(std::string(key) + "\\RS232", subkeys), Status::Ok);
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Device7", "device0", "Device3"}));
}

// The store is created (with its folder) on first use, and follows KVR_STATE_DIR. It is
// shared with the suite's group whatever the umask: mode 0660, its log files too.
TEST(RegistryStore, MissingStateFolderIsCreated) {
    const auto dir = test::makeTempDir("st") / "deeper" / "state";
    ::setenv("KVR_STATE_DIR", dir.c_str(), 1);
    const mode_t umaskBefore = ::umask(077);
    EXPECT_EQ(createKey("HKLM\\X"), Status::Ok);
    ::umask(umaskBefore);
    EXPECT_TRUE(std::filesystem::exists(dir / "registry.db"));
    for (const char* name : {"registry.db", "registry.db-wal"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dir / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 0777, 0660u) << name;
    }
    ::setenv("KVR_STATE_DIR", test::stateDir().c_str(), 1);
    EXPECT_EQ(keyExists("HKLM\\X"), Status::NotFound); // the other store
}

TEST(RegistryStore, CorruptDatabaseGivesAccessDeniedThenRecovers) {
    ASSERT_EQ(createKey("HKLM\\X"), Status::Ok);
    closeStore();
    const auto db = test::stateDir() / "registry.db";
    std::filesystem::remove(test::stateDir() / "registry.db-wal");
    std::filesystem::remove(test::stateDir() / "registry.db-shm");
    {
        std::ofstream f(db, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < 4096; ++i)
            f.put(static_cast<char>((i * 7919) & 0xff));
    }
    uint32_t d = 0;
    std::vector<Value> values;
    std::string s;
    EXPECT_EQ(keyExists("HKLM\\X"), Status::AccessDenied);
    EXPECT_EQ(createKey("HKLM\\Y"), Status::AccessDenied);
    EXPECT_EQ(queryDword("HKLM\\X", "v", d), Status::AccessDenied);
    EXPECT_EQ(setDword("HKLM\\X", "v", 1), Status::AccessDenied);
    EXPECT_EQ(enumValues("HKLM\\X", values), Status::AccessDenied);
    EXPECT_EQ(canonicalPath("HKLM\\X", s), Status::AccessDenied);
    EXPECT_EQ(deleteKey("HKLM\\X"), Status::AccessDenied);
    // The file was not replaced behind the owner's back.
    EXPECT_EQ(std::filesystem::file_size(db), 4096u);
    // Once the file is gone the store starts afresh, without a restart of the process.
    std::filesystem::remove(db);
    EXPECT_EQ(createKey("HKLM\\Y"), Status::Ok);
}

TEST(RegistryStore, UnusableStateFolderGivesAccessDenied) {
    // A regular file where the state folder should be: nothing can be created below it.
    const auto blocker = test::makeTempDir("blk") / "file";
    std::ofstream(blocker) << "x";
    ::setenv("KVR_STATE_DIR", (blocker / "state").c_str(), 1);
    EXPECT_EQ(createKey("HKLM\\X"), Status::AccessDenied);
    EXPECT_EQ(keyExists("HKLM\\X"), Status::AccessDenied);
}

TEST(RegistryStore, ReadOnlyDatabaseRefusesWritesAndKeepsItsData) {
    if (::geteuid() == 0) GTEST_SKIP() << "file modes do not bind root";
    ASSERT_EQ(createKey("HKLM\\X"), Status::Ok);
    ASSERT_EQ(setDword("HKLM\\X", "v", 5), Status::Ok);
    closeStore();
    namespace fs = std::filesystem;
    const auto dir = test::stateDir();
    for (const char* f : {"registry.db", "registry.db-wal", "registry.db-shm"})
        if (fs::exists(dir / f))
            fs::permissions(dir / f, fs::perms::owner_read | fs::perms::group_read);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(setDword("HKLM\\X", "v", 6), Status::AccessDenied);
    EXPECT_EQ(createKey("HKLM\\Y"), Status::AccessDenied);
    closeStore();
    fs::permissions(dir, fs::perms::owner_all);
    for (const char* f : {"registry.db", "registry.db-wal", "registry.db-shm"})
        if (fs::exists(dir / f))
            fs::permissions(dir / f, fs::perms::owner_read | fs::perms::owner_write);
    uint32_t v = 0;
    EXPECT_EQ(queryDword("HKLM\\X", "v", v), Status::Ok);
    EXPECT_EQ(v, 5u);
}

TEST(RegistryStatus, TextsAreDistinct) {
    EXPECT_STREQ(statusText(Status::Ok), "ok");
    EXPECT_STREQ(statusText(Status::NotFound), "not found");
    EXPECT_STREQ(statusText(Status::AccessDenied), "access denied");
    EXPECT_STREQ(statusText(Status::InvalidArgument), "invalid argument");
    EXPECT_STREQ(statusText(Status::TypeMismatch), "type mismatch");
}

} // namespace
} // namespace kvr::reg
