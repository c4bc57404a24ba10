// Fault plans as the simulated meter's options give them.
#include "FaultPlan.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(FaultPlanTest, ParsesKindsAndRequestNumbers) {
    FaultPlan plan;
    plan.Add("short@3");
    plan.Add("late@5,9");
    EXPECT_EQ(plan.At(1), MeterFault::kNone);
    EXPECT_EQ(plan.At(3), MeterFault::kShort);
    EXPECT_EQ(plan.At(5), MeterFault::kLate);
    EXPECT_EQ(plan.At(9), MeterFault::kLate);

    for (const char* bad : {"short", "loud@1", "short@0", "short@-1", "short@x", "short@2,",
                            "short@99999999999"})
        EXPECT_THROW(plan.Add(bad), std::invalid_argument) << bad;
}

// One answer carries one fault: a second one for the same request, in the
// same text or a later one, is refused whole, never half taken.
TEST(FaultPlanTest, ASecondFaultForOneRequestIsRefusedAndLeavesThePlanAsItWas) {
    FaultPlan plan;
    plan.Add("late@5,9");
    try {
        plan.Add("station@7,9,11");
        ADD_FAILURE() << "a second fault for request 9 was taken";
    } catch (const std::invalid_argument& failure) {
        EXPECT_STREQ(failure.what(),
                     "two faults for request 9: late and station (one fault per request)");
    }
    EXPECT_EQ(plan.At(7), MeterFault::kNone) << "nothing of the refused text is kept";
    EXPECT_EQ(plan.At(9), MeterFault::kLate);
    EXPECT_EQ(plan.At(11), MeterFault::kNone);

    EXPECT_THROW(plan.Add("late@9"), std::invalid_argument);
    EXPECT_THROW(plan.Add("short@2,3,2"), std::invalid_argument);
    EXPECT_EQ(plan.At(2), MeterFault::kNone);
    plan.Add("short@2,3");
    EXPECT_EQ(plan.At(2), MeterFault::kShort);
}

// A station before the numbers targets that station's own requests; plain
// numbers are the default station's, and reach no other station.
TEST(FaultPlanTest, FaultsTargetAStationsOwnRequests) {
    FaultPlan plan;
    plan.Add("late@2:5");
    plan.Add("short@5");
    plan.Add("echo@247:1,2");
    EXPECT_EQ(plan.At(2, 5, false), MeterFault::kLate);
    EXPECT_EQ(plan.At(2, 5, true), MeterFault::kLate) << "the named station's own comes first";
    EXPECT_EQ(plan.At(1, 5, true), MeterFault::kShort);
    EXPECT_EQ(plan.At(3, 5, false), MeterFault::kNone) << "plain numbers are the default's only";
    EXPECT_EQ(plan.At(247, 2, false), MeterFault::kBadEcho);
    EXPECT_EQ(plan.At(5), MeterFault::kShort);

    EXPECT_NO_THROW(plan.Add("silent@3:5")) << "another station's request 5";
    EXPECT_THROW(plan.Add("silent@2:5"), std::invalid_argument);
    for (const char* bad : {"late@0:1", "late@248:1", "late@x:1", "late@:1", "late@2:", "late@2:3:4"})
        EXPECT_THROW(plan.Add(bad), std::invalid_argument) << bad;
}

}  // namespace

// Faults named without a station are the first station's: once the line
// names it, the same request named with its address is a second fault for
// it, refused whole, whichever came first.
struct DefaultStationCase {
    std::vector<std::string> texts;
    std::uint8_t default_station;
    std::string refusal;  // empty: taken
};

TEST(FaultPlanTest, TheDefaultStationIsResolvedBeforeDoublesAreJudged) {
    const std::vector<DefaultStationCase> cases = {
        {{"silent@4", "short@1:4"}, 1, "two faults for request 1:4: short and silent"},
        {{"short@1:4", "silent@4"}, 1, "two faults for request 1:4: short and silent"},
        {{"late@3:2", "late@2"}, 3, "request 3:2 is named twice for late"},
        {{"silent@4", "short@1:4"}, 2, ""},
        {{"extra@*", "short@1:4"}, 1, "two faults for one request: short for 1:4 and extra for every "
                                      "request of station 1"},
        {{"extra@2:*", "short@4"}, 2, "extra for every request of station 2 and short for 2:4"},
        {{"extra@*", "short@2:4"}, 1, ""},
    };
    for (const DefaultStationCase& row : cases) {
        FaultPlan plan;
        for (const std::string& text : row.texts)
            plan.Add(text);
        const FaultPlan before = plan;
        std::string refusal;
        try {
            plan.SetDefaultStation(row.default_station);
        } catch (const std::invalid_argument& failure) {
            refusal = failure.what();
        }
        if (row.refusal.empty()) {
            EXPECT_EQ(refusal, "") << row.texts.front();
            continue;
        }
        EXPECT_NE(refusal.find(row.refusal), std::string::npos) << row.texts.front() << ": " << refusal;
        for (std::uint32_t request = 1; request <= 5; ++request)
            EXPECT_EQ(plan.At(request), before.At(request)) << "the plan is left as it was";
    }

    // Set first, a later fault without a station is the default's at once.
    FaultPlan plan;
    plan.SetDefaultStation(7);
    plan.Add("late@3");
    EXPECT_EQ(plan.At(7, 3, true), MeterFault::kLate);
    EXPECT_EQ(plan.At(3), MeterFault::kLate);
    EXPECT_THROW(plan.Add("short@7:3"), std::invalid_argument);
    EXPECT_EQ(plan.At(1, 3, false), MeterFault::kNone);
}

// "*" stands for every request of a station, and leaves room for no other
// fault of that station.
TEST(FaultPlanTest, AStarPutsTheFaultIntoEveryRequestOfItsStation) {
    FaultPlan plan;
    plan.Add("extra@*");
    plan.Add("silent@4:*");
    plan.Add("short@5:2");
    for (std::uint32_t request : {1u, 2u, 1000u}) {
        EXPECT_EQ(plan.At(request), MeterFault::kExtra);
        EXPECT_EQ(plan.At(4, request, false), MeterFault::kSilent);
        EXPECT_EQ(plan.At(6, request, false), MeterFault::kNone);
    }
    EXPECT_EQ(plan.At(5, 2, false), MeterFault::kShort);
    for (const char* bad : {"late@4:1", "late@4:*", "late@*", "late@5:*", "late@*,2", "late@2,*",
                            "late@**", "late@1:*:2"})
        EXPECT_THROW(plan.Add(bad), std::invalid_argument) << bad;
}
