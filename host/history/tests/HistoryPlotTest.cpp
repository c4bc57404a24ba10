// Trend plots (--plot): where the lines break, how each series is titled
// and which signal it draws, and the errors of a plot that cannot be drawn.
// Images are read back as gnuplot's SVG text: a series is a group holding
// its title and one path of move-to (M) and line-to (L) commands, the first
// piece its key sample, each further M a new piece of its line.
#include "BenchError.h"
#include "BenchHostTest.h"
#include "BulkHistory.h"
#include "FileBytes.h"
#include "Gnuplot.h"
#include "HistoryPlot.h"
#include "HistoryStore.h"
#include "QVT7702_Data_t.h"
#include "ScratchDirectory.h"
#include "SimulatedReadings.h"
#include "StoredTime.h"
#include "TextPattern.h"
#include "TimeAxis.h"
#include "TrendGaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

constexpr std::uint32_t kDataId = 1201;

// Every series as the plot must title it, with the record element it draws
// and the divisor the meter's value queries apply.
const std::map<std::string, std::pair<int, double>> kSeries = {
    {"Ua (V)", {4, 100.0}},  {"Ub (V)", {5, 100.0}},  {"Uc (V)", {6, 100.0}},
    {"Uab (V)", {1, 100.0}}, {"Ubc (V)", {2, 100.0}}, {"Uca (V)", {3, 100.0}},
    {"Ia (raw)", {8, 1.0}},  {"Ic (raw)", {9, 1.0}},
};

// Record n's element e: no two elements or records alike.
float WordOf(int n, int element) {
    return static_cast<float>(1000 * (element + 1) + 10 * n + element);
}

// Record n of a device, stored `seconds` after 14:00.
HistoryRow Row(std::uint32_t data_id, int n, double seconds) {
    QVT7702_Data_t record;
    std::memset(static_cast<void*>(&record), 0, sizeof record);
    record.data_id = data_id;
    for (int e = 0; e < 12; ++e)
        record.values[e] = WordOf(n, e);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    char stored_at[40];
    const int minutes = static_cast<int>(seconds / 60);
    std::snprintf(stored_at, sizeof stored_at, "2026-12-08 14:%02d:%06.3f", minutes,
                  seconds - 60.0 * minutes);
    return HistoryRow{n + 1, data_id, stored_at, {bytes, bytes + sizeof record}};
}

// A round every second; only those not named lost are stored.
std::vector<HistoryRow> RoundsWithLost(int rounds, const std::vector<int>& lost) {
    std::vector<HistoryRow> rows;
    for (int round = 1; round <= rounds; ++round)
        if (std::find(lost.begin(), lost.end(), round) == lost.end())
            rows.push_back(Row(kDataId, static_cast<int>(rows.size()), round));
    return rows;
}

void Store(const std::string& path, const std::vector<HistoryRow>& rows) {
    HistoryStore history(path, HistoryStore::Access::kReadWrite);
    for (const HistoryRow& row : rows)
        history.Append(row.data_id, row.stored_at, row.record.data(), row.record.size());
}

// The number of points in each piece of a path, without the key sample. An
// M at the point the piece ended on continues it.
std::vector<std::size_t> PiecePoints(const std::string& commands) {
    const auto number_at = [&commands](std::size_t at) {
        return commands.find_first_not_of("-0123456789.", at);
    };
    std::vector<std::size_t> pieces;
    std::string last;
    for (std::size_t at = commands.find_first_of("ML"); at != std::string::npos;
         at = commands.find_first_of("ML", at + 1)) {
        // A command: its letter, then "x,y".
        const std::size_t comma = number_at(at + 1);
        if (comma == at + 1 || comma == std::string::npos || commands[comma] != ',')
            continue;
        const std::size_t end = std::min(number_at(comma + 1), commands.size());
        if (end == comma + 1)
            continue;
        const std::string point = commands.substr(at + 1, end - at - 1);
        if (commands[at] == 'L')
            ++pieces.back();
        else if (point != last)
            pieces.push_back(1);
        last = point;
    }
    EXPECT_FALSE(pieces.empty() || pieces.front() != 2) << "key sample in " << commands;
    return pieces.empty() ? pieces : std::vector<std::size_t>(pieces.begin() + 1, pieces.end());
}

// Each series' line pieces by its title. A series' group runs to the next
// one's; its own line is the path in its key sample's colour.
std::map<std::string, std::vector<std::size_t>> SeriesOf(const std::string& svg) {
    std::map<std::string, std::vector<std::size_t>> drawn;
    const std::string group = "<g id=\"gnuplot_plot_";
    for (std::size_t at = svg.find(group); at != std::string::npos; at = svg.find(group, at)) {
        at += group.size();
        const std::size_t id_end = svg.find('"', at);
        if (id_end == std::string::npos || svg.compare(id_end, 3, "\" >") != 0)
            continue;
        const std::size_t title = svg.find("<text>", id_end);
        const std::size_t title_end = svg.find("</text>", title);
        if (title_end == std::string::npos)
            break;
        // The first path in a colour whose stroke is followed by its commands.
        std::size_t d = std::string::npos;
        for (std::size_t path = svg.find("<path stroke='rgb", title_end);
             path != std::string::npos && d == std::string::npos;
             path = svg.find("<path stroke='rgb", path + 1)) {
            const std::size_t stroke_end = svg.find('\'', path + 14);
            const std::size_t next = svg.find_first_not_of(" \t\r\n", stroke_end + 1);
            if (stroke_end != std::string::npos && next != std::string::npos &&
                svg.compare(next, 3, "d='") == 0)
                d = next;
        }
        if (d == std::string::npos)
            break;
        const std::string name = svg.substr(title + 6, title_end - title - 6);
        const std::size_t d_end = svg.find('\'', d + 3);
        EXPECT_TRUE(drawn.emplace(name, PiecePoints(svg.substr(d + 3, d_end - d - 3))).second)
            << name;
        at = d_end;
    }
    return drawn;
}

TEST(TrendGapsTest, ADelayIsAGapOnlyPastOneAndAHalfUsualSpacings) {
    for (const double delay : {1.0, 1.45, 1.5, 1.55, 2.0, 30.0, -0.5}) {
        for (const std::size_t at : {1u, 5u, 9u}) {
            std::vector<double> times{100.0};
            for (std::size_t i = 1; i < 10; ++i)
                times.push_back(times.back() + (i == at ? delay : 1.0));
            const bool gap = delay > 1.5 || delay < 0.0;  // or the clock was set back
            EXPECT_EQ(TrendGaps::Find(times), gap ? std::vector<std::size_t>{at}
                                                  : std::vector<std::size_t>{})
                << "spacing " << delay << " before record " << at;
        }
    }
    EXPECT_TRUE(TrendGaps::Find({0.0, 1.1, 2.0, 3.2, 4.1, 4.9, 6.2, 7.0}).empty());
    EXPECT_TRUE(TrendGaps::Find({5.0, 500.0}).empty());
}

// Each span gets the first step of at most eight ticks; a step under a day
// shows the date under the first tick and where a day begins.
TEST(TimeAxisTest, StepAndLabelsFollowTheSpan) {
    const struct {
        const char* first;
        const char* last;
        const char* step;
        std::vector<std::string> labels;
    } spans[] = {
        {"2026-12-08 14:00:00.000", "2026-12-08 14:00:00.600", "0.2 s",  // widened to 1 s
         {"13:59:59.8\n2026-12-08", "14:00:00.0", "14:00:00.2", "14:00:00.4", "14:00:00.6",
          "14:00:00.8"}},
        {"2026-12-08 14:00:00.000", "2026-12-08 14:00:30.000", "5 s",
         {"14:00:00\n2026-12-08", "14:00:05", "14:00:10", "14:00:15", "14:00:20", "14:00:25",
          "14:00:30"}},
        {"2026-12-08 14:00:00.000", "2026-12-08 15:00:00.000", "10 min",
         {"14:00\n2026-12-08", "14:10", "14:20", "14:30", "14:40", "14:50", "15:00"}},
        {"2026-12-08 20:00:00.000", "2026-12-09 04:00:00.000", "2 h",
         {"20:00\n2026-12-08", "22:00", "00:00\n2026-12-09", "02:00", "04:00"}},
        {"2026-12-08 00:00:00.000", "2026-12-11 00:00:00.000", "12 h",
         {"00:00\n2026-12-08", "12:00", "00:00\n2026-12-09", "12:00", "00:00\n2026-12-10",
          "12:00", "00:00\n2026-12-11"}},
        {"2026-12-01 00:00:00.000", "2026-12-31 00:00:00.000", "7 days",  // on Mondays
         {"2026-12-07", "2026-12-14", "2026-12-21", "2026-12-28"}},
        {"2026-01-01 00:00:00.000", "2026-02-27 22:16:44.000", "7 days",
         {"2026-01-05", "2026-01-12", "2026-01-19", "2026-01-26", "2026-02-02", "2026-02-09",
          "2026-02-16", "2026-02-23"}},
        {"2026-01-15 00:00:00.000", "2026-06-20 00:00:00.000", "1 month",
         {"2026-02", "2026-03", "2026-04", "2026-05", "2026-06"}},
        {"2025-03-10 00:00:00.000", "2027-02-01 00:00:00.000", "3 months",
         {"2025-04", "2025-07", "2025-10", "2026-01", "2026-04", "2026-07", "2026-10", "2027-01"}},
        {"2001-06-01 00:00:00.000", "2030-01-01 00:00:00.000", "5 years",
         {"2005", "2010", "2015", "2020", "2025", "2030"}},
    };
    for (const auto& span : spans) {
        const TimeAxis axis(*StoredTime::Seconds(span.first), *StoredTime::Seconds(span.last));
        std::vector<std::string> labels;
        for (const TimeAxis::Tick& tick : axis.Ticks()) {
            labels.push_back(tick.label);
            EXPECT_GE(tick.seconds, axis.Start());
            EXPECT_LE(tick.seconds, axis.End());
        }
        EXPECT_EQ(axis.Step(), span.step) << span.first << " to " << span.last;
        EXPECT_EQ(labels, span.labels) << span.first << " to " << span.last;
    }
}

// The data block's columns against the plot clauses that draw them.
TEST(HistoryPlotTest, EachSeriesDrawsItsOwnSignalAndOnlyItsDevicesReadableRecords) {
    std::vector<HistoryRow> rows;
    for (int n = 0; n < 4; ++n) {
        rows.push_back(Row(kDataId, n, n));
        rows.push_back(Row(77, n, n + 0.5));
    }
    HistoryRow unreadable = Row(kDataId, 9, 1.5);
    unreadable.stored_at = "yesterday";
    rows.insert(rows.begin() + 3, {unreadable, Row(kDataId, 9, 1.6)});
    rows[4].record.pop_back();

    const HistoryPlot plot(kDataId, rows);
    EXPECT_EQ(plot.Summary(), "data id 1201: 4 records stored 2026-12-08 14:00:00.000 to "
                              "2026-12-08 14:00:03.000, 0 gaps");
    const std::string script = plot.Script(HistoryPlot::Format::kSvg);
    std::map<std::string, int> column_of;
    const std::string clause = "$trend using 1:";
    for (std::size_t at = script.find(clause); at != std::string::npos;
         at = script.find(clause, at + 1)) {
        const std::optional<TextPattern::Pieces> found = TextPattern::Whole(
            "$trend using 1:# with * linetype # title \"*\"*",
            script.substr(at, script.find('\n', at) - at));
        if (found && found->at(1).find_first_of(" ,") == std::string::npos &&
            found->at(3).find('"') == std::string::npos)
            column_of[found->at(3)] = std::stoi(found->at(0));
    }
    ASSERT_EQ(column_of.size(), kSeries.size()) << script;

    std::istringstream block(script.substr(script.find("$trend << EOD\n") + 14));
    for (int n = 0; n < 4; ++n) {
        std::string line;
        std::getline(block, line);
        std::vector<double> cells;
        std::istringstream words(line);
        for (double cell = 0; words >> cell;)
            cells.push_back(cell);
        ASSERT_EQ(cells.size(), 9u) << line;
        EXPECT_DOUBLE_EQ(cells[0], 1796738400.0 + n);  // 2026-12-08 14:00 on the stored clock
        for (const auto& [title, element] : kSeries)
            EXPECT_NEAR(cells.at(column_of.at(title) - 1), WordOf(n, element.first) / element.second,
                        0.006)
                << title << " in record " << n;
    }
}

// A long history as make_history writes it: the simulated meter's
// readings, a record a second from 2026-12-08 00:00, rounds `lost` not
// stored, and one record with a spike in Ua and one with a dip in Ic.
struct LongHistory {
    std::int64_t rounds = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> lost;  // [first, last] rounds
    std::int64_t spike_round = -1;  // Ua 300 V
    std::int64_t dip_round = -1;    // Ic 100

    bool Stored(std::int64_t round) const {
        for (const auto& [first, last] : lost)
            if (round >= first && round <= last)
                return false;
        return true;
    }
    static double Seconds(std::int64_t round) {
        return static_cast<double>(StoredTime::DaySeconds(2026, 12, 8) + round);
    }
    HistoryRow Round(std::int64_t round) const {
        QVT7702_Data_t record;
        std::memset(static_cast<void*>(&record), 0, sizeof record);
        record.data_id = kDataId;
        const SimulatedReadings::Words words =
            SimulatedReadings::WordsOf(static_cast<std::uint32_t>(round + 1));
        for (int e = 0; e < SimulatedReadings::kWordCount; ++e)
            record.values[e] = words[e];
        if (round == spike_round)
            record.values[4] = 30000.0f;
        if (round == dip_round)
            record.values[9] = 100.0f;
        const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
        return HistoryRow{0, kDataId,
                          StoredTime::Text(static_cast<std::int64_t>(Seconds(round)) * 1000),
                          {bytes, bytes + sizeof record}};
    }
    void Write(const std::string& path) const {
        std::vector<std::int64_t> stored;
        for (std::int64_t round = 0; round < rounds; ++round)
            if (Stored(round))
                stored.push_back(round);
        WriteBulkHistory(path, static_cast<std::int64_t>(stored.size()),
                         [&](std::int64_t n) { return Round(stored[n]); });
    }
};

// The data block gnuplot is given: its points, and where the lines break.
struct DataBlock {
    std::vector<std::vector<double>> points;
    std::vector<std::size_t> breaks;  // a break before points[i]
};

DataBlock DataBlockOf(const std::string& script) {
    DataBlock block;
    std::istringstream lines(script.substr(script.find("$trend << EOD\n") + 14));
    for (std::string line; std::getline(lines, line) && line != "EOD";) {
        if (line.empty()) {
            block.breaks.push_back(block.points.size());
            continue;
        }
        std::istringstream words(line);
        block.points.emplace_back();
        for (double cell = 0; words >> cell;)
            block.points.back().push_back(cell);
    }
    return block;
}

// Column of a series in the data block: seconds first, then the signals in
// the table's order (Ua, Ub, Uc, Uab, Ubc, Uca, Ia, Ic).
constexpr std::size_t kUa = 1;
constexpr std::size_t kIc = 8;

double Extreme(const DataBlock& block, std::size_t column, bool highest) {
    double extreme = block.points.front().at(column);
    for (const auto& point : block.points)
        extreme = highest ? std::max(extreme, point.at(column)) : std::min(extreme, point.at(column));
    return extreme;
}

// 100,000 records on a 1600-column axis: about 63 records a column. The
// spike and the dip are single records; a lost round is a gap within a
// column, ten minutes without records a gap across columns.
TEST(HistoryPlotTest, ALongHistoryIsDrawnFromEachColumnsLowestAndHighestKeepingSpikesAndGaps) {
    ScratchDirectory scratch;
    LongHistory made;
    made.rounds = 100000;
    made.lost = {{20000, 20000}, {50000, 50599}};
    made.spike_round = 40000;
    made.dip_round = 70000;
    made.Write(scratch.File("h.sqlite"));

    HistoryStore history(scratch.File("h.sqlite"), HistoryStore::Access::kReadOnly);
    const HistoryPlot plot = HistoryPlot::FromHistory(history, kDataId);
    EXPECT_EQ(plot.RecordCount(), 100000u - 601u);
    EXPECT_EQ(plot.GapCount(), 2u);
    const DataBlock block = DataBlockOf(plot.Script(HistoryPlot::Format::kSvg));
    EXPECT_EQ(block.points.size(), plot.PointCount());
    EXPECT_LE(block.points.size(), 2 * HistoryPlot::kColumns + 2 * 2) << "two a column, two more a gap";
    EXPECT_GE(block.points.size(), 2 * HistoryPlot::kColumns - 30)
        << "every column outside the ten minutes holds records";

    EXPECT_DOUBLE_EQ(Extreme(block, kUa, true), 300.0) << "the spike";
    EXPECT_LT(Extreme(block, kUa, false), 229.0) << "the lows too";
    EXPECT_DOUBLE_EQ(Extreme(block, kIc, false), 100.0) << "the dip";
    std::size_t lows = 0;  // Ic is never below 470 otherwise
    for (const auto& point : block.points)
        lows += point.at(kIc) < 400.0 ? 1 : 0;
    EXPECT_EQ(lows, 1u) << "one point of the dip, not a smeared stretch";

    // Each break lies exactly between the records on either side of a gap.
    ASSERT_EQ(block.breaks.size(), 2u);
    const std::pair<std::int64_t, std::int64_t> sides[] = {{19999, 20001}, {49999, 50600}};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t at = block.breaks[i];
        ASSERT_GT(at, 0u);
        EXPECT_DOUBLE_EQ(block.points[at - 1][0], LongHistory::Seconds(sides[i].first)) << i;
        EXPECT_DOUBLE_EQ(block.points[at][0], LongHistory::Seconds(sides[i].second)) << i;
    }
    for (std::size_t i = 1; i < block.points.size(); ++i)
        ASSERT_LE(block.points[i - 1][0], block.points[i][0]) << "in time order, point " << i;
}

// Many short gaps in one column: the first two break the line, the rest
// (too close to be seen apart) are counted only.
TEST(HistoryPlotTest, GapsCrowdedIntoOneColumnAreCountedAndDrawnAsAFew) {
    LongHistory made;
    made.rounds = 16000;  // ten records a column, column 800 from round 7999.5 to 8009.5
    for (std::int64_t round = 8001; round < 8008; round += 2)
        made.lost.push_back({round, round});  // four gaps in column 800
    std::vector<HistoryRow> rows;
    for (std::int64_t round = 0; round < made.rounds; ++round)
        if (made.Stored(round))
            rows.push_back(made.Round(round));
    const HistoryPlot plot(kDataId, rows);
    EXPECT_EQ(plot.GapCount(), 4u);
    const DataBlock block = DataBlockOf(plot.Script(HistoryPlot::Format::kPng));
    EXPECT_EQ(block.breaks.size(), static_cast<std::size_t>(HistoryPlot::kMostPiecesInColumn - 1));
}

TEST(GnuplotTest, AFailingDrawingLeavesTheImageThatWasThereAndNothingBeside) {
    ScratchDirectory scratch;
    const std::string image = scratch.File("trend.svg");
    std::ofstream(image) << "earlier image";
    // A file that only looks like an unfinished drawing is not one of ours.
    std::ofstream(image + ".partial") << "someone's notes";
    const auto failure = [&](const Gnuplot& gnuplot, const std::string& script,
                             const std::string& path) {
        try {
            gnuplot.Draw(script, path);
        } catch (const BenchError& error) {
            EXPECT_EQ(error.Code(), ExitCode::kPlot);
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(failure(Gnuplot(scratch.File("none")), "plot x", image),
              scratch.File("none") + " is not installed (Debian package gnuplot-nox)");
    const std::string failing = failure(Gnuplot(), "set terminal svg\nplot $nowhere using 1:2\n", image);
    EXPECT_EQ(failing.find("gnuplot failed (exit 1): "), 0u) << failing;
    EXPECT_NE(failing.find("no datablock named $nowhere"), std::string::npos) << failing;
    EXPECT_EQ(failing.find('\n'), std::string::npos) << failing;
    EXPECT_EQ(failure(Gnuplot(), "print 7\n", image), "gnuplot wrote no image: 7");
    EXPECT_EQ(failure(Gnuplot(), "set terminal svg\nplot x\n", scratch.File("no/t.svg")),
              "cannot write plot file " + scratch.File("no/t.svg") + ": No such file or directory");

    EXPECT_EQ(FileBytes(image), "earlier image");
    EXPECT_EQ(FileBytes(image + ".partial"), "someone's notes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()), {}), 2);
}

class BenchHostPlotTest : public BenchHostTest {
protected:
    BenchHostPlotTest() : BenchHostTest({"--history", "h.sqlite"}) {}
};

// Rounds lost at the start, in the middle, two in a row, at the end, none.
TEST_F(BenchHostPlotTest, EverySeriesIsTitledAndBreaksWhereRoundsWereLost) {
    const std::pair<std::vector<int>, std::vector<std::size_t>> cases[] = {
        {{}, {12}}, {{5}, {4, 7}}, {{2, 8, 9}, {1, 5, 3}}, {{4, 11}, {3, 6, 1}}};
    for (const auto& [lost, pieces] : cases) {
        std::filesystem::remove(scratch.File("h.sqlite"));
        const std::vector<HistoryRow> rows = RoundsWithLost(12, lost);
        Store(scratch.File("h.sqlite"), rows);

        ASSERT_EQ(RunHost({"--plot", "trend.svg"}), 0) << err;
        const std::size_t gaps = pieces.size() - 1;
        EXPECT_EQ(out, "plot: trend.svg, data id 1201: " + std::to_string(rows.size()) +
                            " records stored " + rows.front().stored_at + " to " +
                            rows.back().stored_at + ", " + std::to_string(gaps) +
                            (gaps == 1 ? " gap\n" : " gaps\n"));
        const auto drawn = SeriesOf(FileBytes(scratch.File("trend.svg")));
        EXPECT_EQ(drawn.size(), kSeries.size());
        for (const auto& series : kSeries)  // a one-record piece: a point, no line
            EXPECT_EQ(drawn.count(series.first) ? drawn.at(series.first) : std::vector<std::size_t>{},
                      pieces)
                << series.first;
    }
    ASSERT_EQ(RunHost({"--plot", "Trend.PNG"}), 0) << err;
    EXPECT_EQ(FileBytes(scratch.File("Trend.PNG")).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(BenchHostPlotTest, ADataIdWithoutHistoryIsAClearError) {
    Store(scratch.File("h.sqlite"), {Row(kDataId, 0, 1.0), Row(kDataId, 1, 2.0)});
    EXPECT_EQ(RunHost({"--plot", "trend.svg", "--data-id", "77"}), 6);
    EXPECT_EQ(err, "bench_host: history file h.sqlite holds no records of data id 77; "
                    "it holds data id 1201\n");
    EXPECT_FALSE(std::filesystem::exists(scratch.File("trend.svg")));

    Store(scratch.File("h.sqlite"), {Row(77, 0, 3.0)});
    EXPECT_EQ(RunHost({"--plot", "trend.svg"}), 2);
    EXPECT_EQ(err, "bench_host: history file h.sqlite holds data ids 77, 1201: "
                    "choose one with --data-id\n");
    EXPECT_EQ(RunHost({"--plot", "trend.svg", "--data-id", "77"}), 0) << err;
    EXPECT_NE(out.find("data id 77: 1 record stored"), std::string::npos) << out;

    std::filesystem::remove(scratch.File("h.sqlite"));
    Store(scratch.File("h.sqlite"), {});
    EXPECT_EQ(RunHost({"--plot", "empty.svg"}), 6);
    EXPECT_EQ(err, "bench_host: history file h.sqlite holds no records\n");
}

TEST_F(BenchHostPlotTest, PlotOptionsThatCannotBeTakenAreUsageErrors) {
    const std::vector<std::vector<std::string>> refused = {
        {"--plot", "trend.txt"}, {"--plot", "trend"}, {"--plot", "trend.svg.bak"},
        {"--plot", ""}, {"--plot", "t.svg", "--dump"}, {"--plot", "t.svg", "--csv"},
        {"--data-id", "1201"}, {"--plot", "t.svg", "--data-id", "-1"},
        {"--plot", "t.svg", "--data-id", "4294967296"},
    };
    for (const auto& args : refused) {
        EXPECT_EQ(RunHost(args), 2) << args.back();
        EXPECT_NE(err.find("(see --help)"), std::string::npos) << err;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.File("h.sqlite")));
}

TEST_F(BenchHostPlotTest, AWindowOfLocalTimesIsDrawnOrRefusedInWords) {
    Store(scratch.File("h.sqlite"), RoundsWithLost(12, {}));  // 14:00:01 to 14:00:12
    EXPECT_EQ(RunHost({"--plot", "w.svg", "--from", "2026-12-08 14:00:05", "--to",
                       "2026-12-08 14:00:08"}),
              0)
        << err;
    EXPECT_EQ(out, "plot: w.svg, data id 1201: 4 records stored 2026-12-08 14:00:05.000 to "
                    "2026-12-08 14:00:08.000, 0 gaps\n");
    EXPECT_EQ(RunHost({"--plot", "w.svg", "--from", "2026-12-08", "--to", "2026-12-08"}), 0);
    EXPECT_NE(out.find(": 12 records stored"), std::string::npos) << "the whole day: " << out;
    EXPECT_EQ(RunHost({"--plot", "w.svg", "--from", "2026-12-09"}), 6);
    EXPECT_EQ(err, "bench_host: history file h.sqlite holds no readable meter records of data "
                    "id 1201 from 2026-12-09 on\n");

    const std::string times = "a local time such as \"2026-12-08 20:00\" or a date such as "
                              "2026-12-08, not ";
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--from", "2026-12-08"}, "--from and --to choose the stretch of time --plot draws"},
        {{"--dump", "--to", "2026-12-08"}, "--from and --to choose the stretch of time --plot draws"},
        {{"--plot", "t.svg", "--from", "yesterday"}, "--from needs " + times + "'yesterday'"},
        {{"--plot", "t.svg", "--from", ""}, "--from needs " + times + "''"},
        {{"--plot", "t.svg", "--to", "2026-13-01"}, "--to needs " + times + "'2026-13-01'"},
        {{"--plot", "t.svg", "--to", "2026-02-29"}, "--to needs " + times + "'2026-02-29'"},
        {{"--plot", "t.svg", "--to", "2026-12-08 24:00"}, "--to needs " + times + "'2026-12-08 24:00'"},
        {{"--plot", "t.svg", "--to", "2026-12-08 20"}, "--to needs " + times + "'2026-12-08 20'"},
        {{"--plot", "t.svg", "--from", "2026-12-08 20:00", "--to", "2026-12-08 19:59:59"},
         "--from must come before --to, not '2026-12-08 20:00' and '2026-12-08 19:59:59'"},
    };
    std::filesystem::remove(scratch.File("h.sqlite"));
    for (const auto& [args, message] : refused) {
        EXPECT_EQ(RunHost(args), 2) << args.back();
        EXPECT_EQ(err, "bench_host: " + message + " (see --help)\n");
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.File("h.sqlite")));
    EXPECT_FALSE(std::filesystem::exists(scratch.File("t.svg")));
}

}  // namespace
