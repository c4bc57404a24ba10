// The summary line that ends every run, from its counts.
#include "RunSummary.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

RunCounts Counts(const char* ending, std::size_t meters, std::uint64_t rounds_begun,
                 std::uint64_t completed, std::uint64_t lost) {
    return RunCounts{ending, meters, rounds_begun, completed, lost, 0, completed, completed,
                     "h.sqlite", 0, 0, true};
}

struct SummaryRow {
    RunCounts counts;
    const char* line;
};

RunCounts Busy() {
    RunCounts counts = Counts("stopped", 2, 3, 5, 0);
    counts.cut_round = 3;
    counts.stored = 4;
    counts.not_stored = 1;
    counts.dropped_bytes = 7;
    counts.checksum_checked = false;
    return counts;
}

TEST(RunSummaryTest, SaysWhatTheRunDidAndOwnsUpToWhatItDidNot) {
    const SummaryRow rows[] = {
        // One meter: every exchange is a round, the rounds begun aside.
        {Counts("done", 1, 9, 4, 1),
         "done: 5 rounds, 4 completed, 1 lost; 4 records published, 4 stored in h.sqlite\n"},
        {Counts("failed", 1, 1, 1, 0),
         "failed: 1 round, 1 completed, 0 lost; 1 records published, 1 stored in h.sqlite\n"},
        // Several: the rounds begun.
        {Counts("done", 3, 5, 15, 0),
         "done: 5 rounds of 3 meters, 15 completed, 0 lost; 15 records published, 15 stored in "
         "h.sqlite\n"},
        {Busy(),
         "stopped: 3 rounds of 2 meters, 5 completed, 0 lost, round 3 cut short; 5 records "
         "published, 4 stored in h.sqlite, 1 not stored; 7 bytes outside an exchange dropped; "
         "checksums not checked\n"},
    };
    for (const SummaryRow& row : rows) {
        std::ostringstream out;
        WriteRunSummary(out, row.counts);
        EXPECT_EQ(out.str(), row.line);
    }
}

}  // namespace
