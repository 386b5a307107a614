// RClick's button against a scripted library: it arms only with a controller listed, and the
// drivers get the used-up event once, with the first arming that succeeds.

#include "utilities/rclick/right_click.h"

#include <gtest/gtest.h>

namespace kvr::rclick {
namespace {

struct Script {
    std::uint8_t controllers = 1;
    std::int32_t armAnswer = 1;
    int arms = 0, eventsGiven = 0;
};
Script g_script;

const RightClickCalls kScripted{
    .listControllers = [] { return g_script.controllers; },
    .armRightClick =
        [](std::int32_t) {
            ++g_script.arms;
            return g_script.armAnswer;
        },
    .setUsedUpEvent =
        [](void*) {
            ++g_script.eventsGiven;
            return 1;
        },
};

TEST(RightClickArming, ArmsWithAControllerAndHandsTheEventOverOnce) {
    struct Press {
        std::uint8_t controllers;
        std::int32_t armAnswer;
        bool armed;
        int arms, eventsGiven; // totals after the press
    };
    const Press presses[] = {
        {0, 1, false, 0, 0}, // nothing listed: the drivers are not asked
        {1, 0, false, 1, 0}, // refused: no event handed over yet
        {2, 1, true, 2, 1},  // armed: the event goes along
        {1, 1, true, 3, 1},  // armed again: the drivers keep the event they have
    };
    g_script = Script{};
    RightClickArming arming(kScripted);
    ASSERT_GE(arming.usedUpFd(), 0);
    for (const Press& p : presses) {
        g_script.controllers = p.controllers;
        g_script.armAnswer = p.armAnswer;
        EXPECT_EQ(arming.arm(), p.armed);
        EXPECT_EQ(g_script.arms, p.arms);
        EXPECT_EQ(g_script.eventsGiven, p.eventsGiven);
    }
    EXPECT_TRUE(arming.eventHandedOver());
}

} // namespace
} // namespace kvr::rclick
