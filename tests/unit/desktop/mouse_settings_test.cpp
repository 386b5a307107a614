#include "platform/desktop/mouse_settings.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>

namespace kvr::desktop {
namespace {

TEST(MouseSettings, DefaultsWithoutValues) {
    EXPECT_EQ(doubleClickSettings(), (DoubleClickSettings{500, 4, 4}));
}

TEST(MouseSettings, WrittenAsTextWhereWindowsKeepsThem) {
    EXPECT_TRUE(setDoubleClickTimeMs(300));
    EXPECT_TRUE(setDoubleClickWidthPx(30));
    EXPECT_TRUE(setDoubleClickHeightPx(20));
    EXPECT_EQ(doubleClickSettings(), (DoubleClickSettings{300, 30, 20}));
    std::string text;
    ASSERT_EQ(reg::querySz("HKCU\\Control Panel\\Mouse", "DoubleClickSpeed", text),
              reg::Status::Ok);
    EXPECT_EQ(text, "300");
    ASSERT_EQ(reg::querySz("HKCU\\Control Panel\\Mouse", "DoubleClickWidth", text),
              reg::Status::Ok);
    EXPECT_EQ(text, "30");
}

TEST(MouseSettings, StoredValuesAreReadLikeTheDesktopDoes) {
    ASSERT_EQ(reg::createKey(kMouseKey), reg::Status::Ok);
    struct Case {
        reg::Value stored;
        uint32_t timeMs;
    } cases[] = {
        {{"DoubleClickSpeed", reg::Type::Sz, 0, "700"}, 700},
        {{"DoubleClickSpeed", reg::Type::Sz, 0, " 650 "}, 650},
        {{"DoubleClickSpeed", reg::Type::Dword, 800, ""}, 800},
        {{"DoubleClickSpeed", reg::Type::Sz, 0, "0"}, 500},       // 0: the default
        {{"DoubleClickSpeed", reg::Type::Dword, 9999, ""}, 5000}, // capped
        {{"DoubleClickSpeed", reg::Type::Sz, 0, "fast"}, 500},    // unreadable
        {{"DoubleClickSpeed", reg::Type::Sz, 0, "12x"}, 500},
        {{"DoubleClickSpeed", reg::Type::Sz, 0, "-5"}, 500},
        {{"DoubleClickSpeed", reg::Type::Sz, 0, "99999999999"}, 500},
        {{"DoubleClickSpeed", reg::Type::Sz, 0, ""}, 500},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(reg::setValue(kMouseKey, c.stored), reg::Status::Ok);
        EXPECT_EQ(doubleClickTimeMs(), c.timeMs) << c.stored.sz << " / " << c.stored.dword;
    }
}

} // namespace
} // namespace kvr::desktop
