#include "platform/desktop/atoms.h"
#include "tests/support/test_env.h"
#include "tests/unit/desktop/forked_child.h"

#include <gtest/gtest.h>
#include <vector>

namespace kvr::desktop {
namespace {

using kvr::test::ForkedChild;

TEST(FileNames, FoldCaseAndEscapeWhatAFileNameCannotHold) {
    struct Case {
        std::string name;
        std::optional<std::string> file;
    } cases[] = {
        {"Lumarcon01", "lumarcon01"},
        {"RClick", "rclick"},
        {"a/b%c", "a%2Fb%25c"},
        {".hidden.x", "%2Ehidden.x"},
        {std::string("n\0l", 3), "n%00l"},
        {"", std::nullopt},
        {std::string(255, 'x'), std::string(255, 'x')},
        {std::string(256, 'x'), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(detail::fileNameFor(c.name), c.file) << c.name;
}

TEST(GlobalAtoms, AddFindDeleteInOneProcess) {
    EXPECT_FALSE(findAtom("Lumarcon01"));
    {
        auto atom = GlobalAtom::add("Lumarcon01");
        ASSERT_TRUE(atom);
        EXPECT_TRUE(findAtom("Lumarcon01"));
        EXPECT_TRUE(findAtom("LUMARCON01")); // names compare without case
        AtomAddResult r{};
        EXPECT_FALSE(GlobalAtom::add("lumarcon01", &r));
        EXPECT_EQ(r, AtomAddResult::HeldElsewhere);
        atom->remove();
        EXPECT_FALSE(findAtom("Lumarcon01"));
        EXPECT_TRUE(GlobalAtom::add("Lumarcon01")); // free again (and deleted at once)
    }
    EXPECT_FALSE(findAtom("Lumarcon01"));
    AtomAddResult r{};
    EXPECT_FALSE(GlobalAtom::add("", &r));
    EXPECT_EQ(r, AtomAddResult::Failed);
}

TEST(GlobalAtoms, VanishWhenTheOwnerDies) {
    ForkedChild child([](int fd) {
        auto atom = GlobalAtom::add("portscan");
        kvr::test::report(fd, atom ? 'A' : 'X');
        for (;;)
            ::pause();
        return 0;
    });
    ASSERT_EQ(child.nextReport(), 'A');
    EXPECT_TRUE(findAtom("portscan"));
    AtomAddResult r{};
    EXPECT_FALSE(GlobalAtom::add("portscan", &r));
    EXPECT_EQ(r, AtomAddResult::HeldElsewhere);

    ::kill(child.pid(), SIGKILL); // no chance to delete it
    child.wait();
    EXPECT_FALSE(findAtom("portscan"));
    auto mine = GlobalAtom::add("portscan", &r);
    EXPECT_TRUE(mine);
    EXPECT_EQ(r, AtomAddResult::Added);
}

TEST(GlobalAtoms, OneOfManyRacingProcessesGetsIt) {
    constexpr int kRacers = 8;
    std::vector<std::unique_ptr<ForkedChild>> racers;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    for (int i = 0; i < kRacers; ++i) {
        racers.push_back(std::make_unique<ForkedChild>([&](int fd) {
            ::close(gate[1]);
            char go = 0;
            [[maybe_unused]] auto n = ::read(gate[0], &go, 1); // all start together
            auto atom = GlobalAtom::add("race");
            kvr::test::report(fd, atom ? 'W' : 'L');
            for (;;)
                ::pause(); // winners keep it until killed
            return 0;
        }));
    }
    ::close(gate[0]);
    ::close(gate[1]); // EOF releases every racer at once
    int winners = 0;
    for (auto& r : racers) {
        const auto c = r->nextReport();
        ASSERT_TRUE(c);
        winners += (*c == 'W');
    }
    EXPECT_EQ(winners, 1);
}

} // namespace
} // namespace kvr::desktop
