// The summary line and the statistics table read back by word.
#include "RunOutput.h"

#include <gtest/gtest.h>

namespace {

TEST(RunSummaryTest, EachPartOfTheSummaryLineIsRead) {
    struct Row {
        const char* line;
        const char* ending;
        std::uint64_t rounds, meters, completed, lost;
        std::optional<std::uint64_t> cut_short;
        std::uint64_t published, stored, not_stored;
        const char* history;
    };
    const Row rows[] = {
        {"done: 1 round, 1 completed, 0 lost; 1 records published, 1 stored in h.sqlite",
         "done", 1, 1, 1, 0, std::nullopt, 1, 1, 0, "h.sqlite"},
        {"done: 4 rounds of 3 meters, 11 completed, 1 lost; 11 records published, 11 stored in "
         "/tmp/a b/h.sqlite; 58 bytes outside an exchange dropped; checksums not checked",
         "done", 4, 3, 11, 1, std::nullopt, 11, 11, 0, "/tmp/a b/h.sqlite"},
        {"stopped: 7 rounds, 6 completed, 0 lost, round 8 cut short; 6 records published, 5 "
         "stored in h, 1.sqlite, 1 not stored",
         "stopped", 7, 1, 6, 0, 8, 6, 5, 1, "h, 1.sqlite"},
        {"failed: 3 rounds, 2 completed, 1 lost, round 4 cut short; 2 records published, 1 stored "
         "in h.sqlite, 1 not stored; checksums not checked",
         "failed", 3, 1, 2, 1, 4, 2, 1, 1, "h.sqlite"},
    };
    for (const Row& row : rows) {
        const std::optional<RunSummary> summary =
            ReadSummary(std::string("banner\n    1  12:00:00  1  x\n") + row.line + "\nrest\n");
        ASSERT_TRUE(summary.has_value()) << row.line;
        EXPECT_EQ(summary->ending, row.ending);
        EXPECT_EQ(summary->rounds, row.rounds) << row.line;
        EXPECT_EQ(summary->meters, row.meters) << row.line;
        EXPECT_EQ(summary->completed, row.completed) << row.line;
        EXPECT_EQ(summary->lost, row.lost) << row.line;
        EXPECT_EQ(summary->cut_short, row.cut_short) << row.line;
        EXPECT_EQ(summary->published, row.published) << row.line;
        EXPECT_EQ(summary->stored, row.stored) << row.line;
        EXPECT_EQ(summary->not_stored, row.not_stored) << row.line;
        EXPECT_EQ(summary->history, row.history) << row.line;
    }
    for (const char* other :
         {"stopped: while reading settings file s.json, before the first round; nothing polled",
          "    3  12:00:00  1  stopped: exchange cut short, nothing stored",
          "done: 4 rounds, 4 completed", "lost: 1 round, 0 completed, 1 lost"})
        EXPECT_FALSE(ReadSummary(other).has_value()) << other;
}

TEST(StatisticsTableTest, RowsAreReadByLabelUpToTheFirstEmptyLine) {
    const std::string text =
        "done: 2 rounds, 2 completed, 0 lost; 2 records published, 2 stored in h\n"
        "statistics over 1.00 s at 9600 8N1: wire limit 13.15 polls/s (76.04 ms a poll)\n"
        "                      station 1        line\n"
        "                   data id 1201  all meters\n"
        "requests sent                 2           2\n"
        "response p95 ms               -           -\n"
        "line use %                15.20       15.20\n"
        "  no answer                   1           1\n"
        "hint: a sentence, not a row\n"
        "\n"
        "hint  not  a row\n";
    const StatisticsCells table = ReadStatisticsTable(text);
    EXPECT_EQ(table.size(), 4u);
    EXPECT_EQ(table.at("no answer"), (std::vector<std::string>{"1", "1"}));
    EXPECT_EQ(table.at("requests sent"), (std::vector<std::string>{"2", "2"}));
    EXPECT_EQ(table.at("response p95 ms"), (std::vector<std::string>{"-", "-"}));
    EXPECT_EQ(table.at("line use %"), (std::vector<std::string>{"15.20", "15.20"}));
    EXPECT_EQ(ReadStatisticsTable(text.substr(text.find("statistics over"))).size(), 4u)
        << "the heading as the first line";
    EXPECT_TRUE(ReadStatisticsTable("no statistics\n").empty());
}

}  // namespace
