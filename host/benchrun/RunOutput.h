#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the bench host prints, read back by word, for the programs that
// judge a run from outside.

// One row of the live table: a meter's exchange in a round, or the
// record reloaded from the history ("cache").
struct RoundRow {
    std::string label;        // "cache", or the round's number
    std::uint32_t round = 0;  // 0 for the cache's row
    int station = 0;
    std::vector<std::string> values;  // the value cells' words: numbers, "-" or a query's message
    std::uint64_t done = 0;           // the completed counter after it
    std::uint64_t lost = 0;           // the lost counter after it
    std::string note;                 // empty when the exchange completed

    bool IsCache() const { return label == "cache"; }
};

// Every row of the table in `out`, in order, the cache's among them.
std::vector<RoundRow> ReadRoundRows(const std::string& out);
// The polling rounds' rows only.
std::vector<RoundRow> ReadPollRows(const std::string& out);

// The summary line a run ends with:
// "done: 4 rounds of 3 meters, 11 completed, 1 lost, round 5 cut short;
//  11 records published, 10 stored in h.sqlite, 1 not stored".
struct RunSummary {
    std::string ending;  // "done", "stopped" or "failed"
    std::uint64_t rounds = 0;
    std::uint64_t meters = 1;
    std::uint64_t completed = 0;
    std::uint64_t lost = 0;
    std::optional<std::uint64_t> cut_short;  // the round a stop or failure cut short
    std::uint64_t published = 0;
    std::uint64_t stored = 0;
    std::string history;
    std::uint64_t not_stored = 0;
};

// The first summary line of a polling run in `text` (standard output, or
// standard error when output was closed); nothing when there is none.
std::optional<RunSummary> ReadSummary(const std::string& text);

// The statistics table after its "statistics over" heading: each row's
// label with its cells, one per meter and the line's last.
using StatisticsCells = std::map<std::string, std::vector<std::string>>;
StatisticsCells ReadStatisticsTable(const std::string& text);
