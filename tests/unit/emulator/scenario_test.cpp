// The scenario language: what parses to what, and what is refused with which message.
#include "emulator/scenario.h"
#include "tests/support/test_env.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace kvr::emu {
namespace {

std::optional<Statement> parse(std::string_view line) {
    std::optional<Statement> s;
    std::string error;
    EXPECT_TRUE(parseStatement(line, &s, &error)) << line << ": " << error;
    return s;
}

TEST(ScenarioParse, Statements) {
    auto s = parse("touch 100 200 5");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->op, Op::Touch);
    EXPECT_EQ(s->to.x.value, 100u);
    EXPECT_EQ(s->to.y.value, 200u);
    EXPECT_EQ(s->number, 5u);

    s = parse("  tap 50%,0x10   # a comment");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->op, Op::Tap);
    EXPECT_TRUE(s->to.x.percent);
    EXPECT_EQ(s->to.x.value, 50u);
    EXPECT_FALSE(s->to.y.percent);
    EXPECT_EQ(s->to.y.value, 16u);
    EXPECT_EQ(s->number, 1u);

    s = parse("drag 1,2 3,4 10");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->op, Op::Drag);
    EXPECT_EQ(s->from.y.value, 2u);
    EXPECT_EQ(s->to.x.value, 3u);
    EXPECT_EQ(s->number, 10u);

    s = parse("raw 01 69 540D");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->bytes, (std::vector<uint8_t>{0x01, 0x69, 0x54, 0x0D}));

    s = parse("fault late 200 3");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->op, Op::Fault);
    EXPECT_EQ(s->fault.kind, FaultKind::Late);
    EXPECT_EQ(s->fault.arg, 200u);
    EXPECT_EQ(s->fault.count, 3);

    s = parse("fault garble");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->fault.kind, FaultKind::Garble);
    EXPECT_EQ(s->fault.count, -1);

    const std::pair<const char*, Op> simple[] = {
        {"lift", Op::Lift},           {"hold", Op::Hold},
        {"hold 4", Op::Hold},         {"button down", Op::Button},
        {"wait 0", Op::Wait},         {"rate 1000", Op::Rate},
        {"restart", Op::Restart},     {"hangup", Op::HangUp},
        {"reconnect", Op::Reconnect}, {"fault clear", Op::ClearFaults},
        {"move 1 1", Op::Move},       {"fault drop 1", Op::Fault},
    };
    for (const auto& [line, op] : simple) {
        s = parse(line);
        ASSERT_TRUE(s) << line;
        EXPECT_EQ(s->op, op) << line;
    }
    EXPECT_FALSE(parse(""));
    EXPECT_FALSE(parse("   # only a comment"));
}

TEST(ScenarioParse, RefusesWithAMessage) {
    const std::pair<const char*, const char*> cases[] = {
        {"jump 1 2", "unknown statement 'jump'"},
        {"touch 1", "missing coordinate"},
        {"touch 1 -2", "bad coordinate '-2'"},
        {"touch 101% 1", "bad coordinate '101%'"},
        {"touch 65536 1", "bad coordinate '65536'"},
        {"touch 1 2 0", "sample count must be at least 1"},
        {"touch 1 2 3 4", "unexpected '4'"},
        {"rate 0", "rate must be at least 1 Hz"},
        {"rate 1001", "bad rate '1001'"},
        {"wait", "missing wait"},
        {"button sideways", "button needs down or up"},
        {"raw", "raw needs hex bytes"},
        {"raw 0", "raw needs whole bytes (two hex digits each)"},
        {"raw 0G", "raw: bad hex '0G'"},
        {"fault", "fault needs a kind"},
        {"fault meteor", "unknown fault 'meteor'"},
        {"fault late", "missing delay"},
        {"fault drop 0", "drop interval must be at least 1"},
        {"fault nak 1 2", "unexpected '2'"},
        {"lift now", "unexpected 'now'"},
    };
    for (const auto& [line, message] : cases) {
        std::optional<Statement> s;
        std::string error;
        EXPECT_FALSE(parseStatement(line, &s, &error)) << line;
        EXPECT_EQ(error, message) << line;
        EXPECT_FALSE(s) << line;
    }
}

TEST(ScenarioParse, WholeScenarioNamesTheBadLine) {
    std::vector<Statement> all;
    std::string error;
    EXPECT_TRUE(parseScenario("# tap\ntap 1 2 3\n\nlift\n", &all, &error));
    EXPECT_EQ(all.size(), 2u);
    all.clear();
    EXPECT_FALSE(parseScenario("tap 1 2\nlift\nfly\n", &all, &error));
    EXPECT_EQ(error, "line 3: unknown statement 'fly'");
}

TEST(ScenarioParse, ShippedScenariosParse) {
    int files = 0;
    for (const char* dir : {"emulator/scenarios", "tests/data/emulator"}) {
        for (const auto& entry : std::filesystem::directory_iterator(test::sourceDir() / dir)) {
            if (entry.path().extension() != ".scn") continue;
            std::ifstream in(entry.path());
            std::stringstream text;
            text << in.rdbuf();
            std::vector<Statement> all;
            std::string error;
            EXPECT_TRUE(parseScenario(text.str(), &all, &error)) << entry.path() << ": " << error;
            EXPECT_FALSE(all.empty()) << entry.path();
            ++files;
        }
    }
    EXPECT_GE(files, 2);
}

} // namespace
} // namespace kvr::emu
