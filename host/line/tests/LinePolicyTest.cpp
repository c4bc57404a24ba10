// The line's policy on its own: who is in doubt after which loss, how long
// the line must then stay quiet, and until when an unanswered request's
// answer is owed.
#include "LinePolicy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace {

using Clock = LinePolicy::Clock;
using std::chrono::milliseconds;

const LinePolicy::Times kTimes{milliseconds(1), std::chrono::microseconds(3500), milliseconds(500),
                               milliseconds(2000), milliseconds(60)};

const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

TEST(LinePolicyTest, AQuietLineNeedsOnlyTheSilentInterval) {
    const LinePolicy policy(kTimes);
    EXPECT_FALSE(policy.InDoubt(1));
    EXPECT_EQ(policy.QuietBeforeRequest(), kTimes.silent_interval);
    EXPECT_EQ(policy.RequestNotBefore(kStart), kStart + kTimes.silent_interval);
    EXPECT_EQ(policy.AnswerQuiet(1), kTimes.silent_interval);
    // A queued frame begins within one answer's time; never longer than the timeout.
    EXPECT_EQ(policy.PendingQuiet(), kTimes.follow_window);
    // The request's end, 1.5 characters that end a frame, one character.
    EXPECT_EQ(policy.EarliestAnswerStart(kStart), kStart + std::chrono::microseconds(2500));
}

// Each row: what happened on the line, in order, then who is in doubt.
struct DoubtRow {
    const char* name;
    void (*events)(LinePolicy&);
    bool station1_in_doubt;
    bool station2_in_doubt;
};

const DoubtRow kDoubtRows[] = {
    {"a loss makes the whole line doubtful",
     [](LinePolicy& p) { p.Lost(1, LossReason::kShort, kStart); }, true, true},
    {"another station's confirmed answer does not settle an owed one",
     [](LinePolicy& p) {
         p.Lost(1, LossReason::kShort, kStart);
         p.Confirmed(2);
     },
     true, false},
    {"the station's own confirmed answer settles it",
     [](LinePolicy& p) {
         p.Lost(1, LossReason::kShort, kStart);
         p.Confirmed(1);
     },
     false, false},
    {"bytes outside an exchange make the line doubtful, no station owing",
     [](LinePolicy& p) {
         p.Doubt();
         p.Confirmed(2);
     },
     false, false},
    {"two stations owing, one settled",
     [](LinePolicy& p) {
         p.Lost(1, LossReason::kNoAnswer, kStart);
         p.Lost(2, LossReason::kBadChecksum, kStart);
         p.Confirmed(2);
     },
     true, false},
};

TEST(LinePolicyTest, AnOwedAnswerStaysOwedUntilItsOwnStationIsConfirmed) {
    for (const DoubtRow& row : kDoubtRows) {
        LinePolicy policy(kTimes);
        row.events(policy);
        EXPECT_EQ(policy.InDoubt(1), row.station1_in_doubt) << row.name;
        EXPECT_EQ(policy.InDoubt(2), row.station2_in_doubt) << row.name;
        EXPECT_EQ(policy.AnswerQuiet(1),
                  row.station1_in_doubt ? kTimes.settle : kTimes.silent_interval)
            << row.name;
    }
}

TEST(LinePolicyTest, OnlyARequestThatDrewNothingHoldsTheLineToTheLateLimit) {
    LinePolicy policy(kTimes);
    policy.Lost(1, LossReason::kShort, kStart);
    EXPECT_EQ(policy.QuietBeforeRequest(), kTimes.settle);
    EXPECT_EQ(policy.RequestNotBefore(kStart), kStart + kTimes.settle);

    policy.Lost(1, LossReason::kNoAnswer, kStart);
    EXPECT_EQ(policy.OwedUntil(), kStart + kTimes.late_limit);
    EXPECT_EQ(policy.RequestNotBefore(kStart), kStart + kTimes.late_limit);
    // A later activity counts from itself once the late limit is near.
    const Clock::time_point late = kStart + milliseconds(1800);
    EXPECT_EQ(policy.RequestNotBefore(late), late + kTimes.settle);
    // An earlier request's late limit is never shortened by a later loss.
    policy.Lost(2, LossReason::kNoAnswer, kStart - milliseconds(1000));
    EXPECT_EQ(policy.OwedUntil(), kStart + kTimes.late_limit);
}

}  // namespace

// An answer's frame ends after the silent interval and the longest pause the
// line's delivery showed beyond a character's own time within the last few
// answers: a USB adapter's bursts pause mid-frame that long.
TEST(LinePolicyTest, AnAnswersSilenceGrowsWithThePausesTheLineDeliveredItWith) {
    struct Row {
        const char* name;
        std::vector<Clock::duration> pauses;  // the longest of each answer, oldest first
        Clock::duration quiet;
    };
    const std::vector<Row> rows = {
        {"bytes one by one add nothing", {milliseconds(1), milliseconds(1)}, kTimes.silent_interval},
        {"16 ms bursts", {milliseconds(16)}, kTimes.silent_interval + milliseconds(15)},
        {"a stall is forgotten after 8 answers",
         {milliseconds(40), milliseconds(1), milliseconds(1), milliseconds(1), milliseconds(1),
          milliseconds(1), milliseconds(1), milliseconds(1), milliseconds(16)},
         kTimes.silent_interval + milliseconds(15)},
        {"never longer than the timeout", {std::chrono::seconds(3)}, kTimes.settle},
    };
    for (const Row& row : rows) {
        LinePolicy policy(kTimes);
        for (const Clock::duration pause : row.pauses)
            policy.Delivered(pause);
        EXPECT_EQ(policy.AnswerQuiet(1), row.quiet) << row.name;
    }
    LinePolicy doubtful(kTimes);
    doubtful.Delivered(milliseconds(16));
    doubtful.Doubt();
    EXPECT_EQ(doubtful.AnswerQuiet(1), kTimes.settle) << "in doubt, the timeout's silence";
}
