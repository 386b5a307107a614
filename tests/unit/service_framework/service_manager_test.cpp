// The service manager's records in the registry store, and the event log's line format.

#include "platform/registry/registry.h"
#include "platform/service/event_log.h"
#include "platform/service/service_manager.h"

#include <gtest/gtest.h>

namespace kvr::svc {
namespace {

ServiceConfig config(const char* name) {
    ServiceConfig c;
    c.name = name;
    c.displayName = name;
    c.imagePath = "/usr/bin/touchsvc";
    return c;
}

TEST(ServiceManager, RecordHoldsTheWindowsValues) {
    ASSERT_EQ(createService(config("Demo Service")), kErrorSuccess);
    const std::string key = std::string(kServicesKey) + "\\Demo Service";
    struct Dword {
        const char* name;
        std::uint32_t want;
    };
    for (const Dword& d : {Dword{"Type", 0x10}, Dword{"Start", 2}, Dword{"ErrorControl", 1}}) {
        std::uint32_t got = 0;
        ASSERT_EQ(reg::queryDword(key, d.name, got), reg::Status::Ok) << d.name;
        EXPECT_EQ(got, d.want) << d.name;
    }
    struct Sz {
        const char* name;
        const char* want;
    };
    for (const Sz& s : {Sz{"ImagePath", "/usr/bin/touchsvc"}, Sz{"ObjectName", "LocalSystem"},
                        Sz{"DisplayName", "Demo Service"}}) {
        std::string got;
        ASSERT_EQ(reg::querySz(key, s.name, got), reg::Status::Ok) << s.name;
        EXPECT_EQ(got, s.want) << s.name;
    }
}

TEST(ServiceManager, NamesCompareWithoutCaseAndOneRecordPerName) {
    ASSERT_EQ(createService(config("Demo Service")), kErrorSuccess);
    EXPECT_EQ(createService(config("DEMO service")), kErrorServiceExists);
    EXPECT_EQ(lastError(), kErrorServiceExists);
    EXPECT_EQ(openService("demo SERVICE"), kErrorSuccess);

    ServiceConfig read;
    ASSERT_EQ(queryServiceConfig("demo service", read), kErrorSuccess);
    EXPECT_EQ(read.name, "Demo Service"); // the spelling it was registered with
    EXPECT_EQ(read.imagePath, "/usr/bin/touchsvc");

    EXPECT_EQ(deleteService("DEMO SERVICE"), kErrorSuccess);
    EXPECT_EQ(openService("Demo Service"), kErrorServiceDoesNotExist);
    EXPECT_EQ(deleteService("Demo Service"), kErrorServiceDoesNotExist);
}

TEST(ServiceManager, BadNamesAndRecordsAreRefusedWithoutTrace) {
    for (const char* bad : {"", "a\\b", "a/b"}) {
        EXPECT_EQ(createService(config(bad)), kErrorInvalidName) << bad;
        EXPECT_EQ(openService(bad), kErrorInvalidName) << bad;
    }
    EXPECT_EQ(createService(config(std::string(256, 'x').c_str())), kErrorInvalidName);
    ServiceConfig noProgram = config("No Program");
    noProgram.imagePath.clear();
    EXPECT_EQ(createService(noProgram), kErrorInvalidParameter);
    std::vector<std::string> names;
    reg::enumSubkeys(kServicesKey, names);
    EXPECT_TRUE(names.empty());
}

TEST(ServiceManager, StartingWhatIsNotRegisteredOrNotRunnable) {
    EXPECT_EQ(startService("Nobody"), kErrorServiceDoesNotExist);
    ServiceConfig c = config("Broken");
    c.imagePath = "/nonexistent/program";
    ASSERT_EQ(createService(c), kErrorSuccess);
    EXPECT_EQ(startService("Broken"), kErrorFileNotFound);

    ServiceStatus status;
    EXPECT_EQ(queryServiceStatus("Broken", status), kErrorServiceNotActive);
    EXPECT_EQ(status.currentState, kStateStopped);
}

TEST(EventLog, LineJoinsTextsWithoutDoublingBlanks) {
    struct Case {
        std::vector<std::string> texts;
        const char* want;
    };
    const Case cases[] = {
        {{"Start SetStatus"}, "event 107 information: Start SetStatus"},
        {{"Stoped ", "LumarconTouch Service"},
         "event 107 information: Stoped LumarconTouch Service"},
        {{"a", "b", "c"}, "event 107 information: a b c"},
        {{}, "event 107 information:"},
    };
    for (const Case& c : cases) {
        EventLogEntry e{"S", kEventInformation, 0, 107, c.texts};
        EXPECT_EQ(formatEventLine(e), c.want);
    }
    EventLogEntry err{"S", kEventError, 0, 5, {"x"}};
    EXPECT_EQ(formatEventLine(err), "event 5 error: x");
}

} // namespace
} // namespace kvr::svc
