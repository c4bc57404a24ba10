// One poll's wire time against sums worked out by hand:
// (request + answer) characters + 2 shortest frame ends.
#include "WireBudget.h"

#include <gtest/gtest.h>

namespace {

struct ExpectedBudget {
    const char* name;
    LineSettings line;
    double poll_microseconds;
    double polls_per_second;
};

TEST(WireBudgetTest, PollIsBothFramesAndTwoShortestFrameEnds) {
    const ExpectedBudget cases[] = {
        // 66 x 1041.667 + 2 x 3645.833 us
        {"9600 8N1", LineSettings::Framed(9600, Parity::kNone, 1), 76041.667, 13.1507},
        // 66 x 572.917 + 2 x 2005.208 us: parity adds a bit to every character
        {"19200 8E1", LineSettings::Framed(19200, Parity::kEven, 1), 41822.917, 23.9103},
        // 66 x 520.806 + 2 x 1750 us: the fixed silence, shorter than 3.5 characters
        {"19201 8N1", LineSettings::Framed(19201, Parity::kNone, 1), 37873.210, 26.4039},
        // 73 x 86.806 us: 3.5 characters, not the fixed 1.75 ms above 19200 baud
        {"115200 8N1", LineSettings::Framed(115200, Parity::kNone, 1), 6336.806, 157.8082},
        // 73 x 2.5 us
        {"4000000 8N1", LineSettings::Framed(4000000, Parity::kNone, 1), 182.5, 5479.4521},
    };
    for (const ExpectedBudget& expected : cases) {
        const WireBudget budget(expected.line, 8, 58);
        EXPECT_NEAR(budget.PollTime().count(), expected.poll_microseconds, 1e-3) << expected.name;
        EXPECT_NEAR(budget.PollsPerSecond(), expected.polls_per_second, 1e-4) << expected.name;
        EXPECT_NEAR(budget.PollSeconds() * budget.PollsPerSecond(), 1.0, 1e-12) << expected.name;
    }
}

// The figures the README and the bench host quote for the meter's line.
TEST(WireBudgetTest, MeterAt9600Is76Point04MsAnd13Point15PollsPerSecond) {
    const WireBudget budget(LineSettings{}, 8, 58);
    EXPECT_NEAR(budget.PollSeconds() * 1e3, 76.04, 0.005);
    EXPECT_NEAR(budget.PollsPerSecond(), 13.15, 0.005);
}

TEST(WireBudgetTest, EveryFrameByteCounts) {
    const LineSettings line;
    const double character = line.CharacterTime().count();
    EXPECT_NEAR(WireBudget(line, 8, 59).PollTime().count() -
                    WireBudget(line, 8, 58).PollTime().count(),
                character, 1e-6);
    EXPECT_NEAR(WireBudget(line, 9, 58).PollTime().count() -
                    WireBudget(line, 8, 58).PollTime().count(),
                character, 1e-6);
    EXPECT_NEAR(WireBudget(line, 8, 58).RequestTime().count(), 8 * character, 1e-6);
}

}  // namespace
