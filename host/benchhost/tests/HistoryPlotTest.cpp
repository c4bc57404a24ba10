// Trend plots (--plot): where the lines break, how each series is titled
// and which signal it draws, and the errors of a plot that cannot be drawn.
// Images are read back as gnuplot's SVG text: a series is a group holding
// its title and one path of move-to (M) and line-to (L) commands, the first
// piece its key sample, each further M a new piece of its line.
#include "BenchError.h"
#include "Gnuplot.h"
#include "HistoryPlot.h"
#include "HistoryStore.h"
#include "QVT7702_Data_t.h"
#include "ScratchDirectory.h"
#include "ToolProcess.h"
#include "TrendGaps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
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

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The number of points in each piece of a path, without the key sample. An
// M at the point the piece ended on continues it.
std::vector<std::size_t> PiecePoints(const std::string& commands) {
    static const std::regex command(R"(([ML])([-0-9.]+,[-0-9.]+))");
    std::vector<std::size_t> pieces;
    std::string last;
    for (auto it = std::sregex_iterator(commands.begin(), commands.end(), command);
         it != std::sregex_iterator(); ++it) {
        if ((*it)[1] == "L")
            ++pieces.back();
        else if ((*it)[2] != last)
            pieces.push_back(1);
        last = (*it)[2];
    }
    EXPECT_FALSE(pieces.empty() || pieces.front() != 2) << "key sample in " << commands;
    return pieces.empty() ? pieces : std::vector<std::size_t>(pieces.begin() + 1, pieces.end());
}

// Each series' line pieces by its title. A series' group runs to the next
// one's; its own line is the path in its key sample's colour.
std::map<std::string, std::vector<std::size_t>> SeriesOf(const std::string& svg) {
    static const std::regex series(
        R"rx(<g id="gnuplot_plot_\w+" >[\s\S]*?<text>([^<]*)</text>[\s\S]*?<path stroke='rgb[^']*'\s*d='([^']*)')rx");
    std::map<std::string, std::vector<std::size_t>> drawn;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), series);
         it != std::sregex_iterator(); ++it)
        EXPECT_TRUE(drawn.emplace((*it)[1], PiecePoints((*it)[2])).second) << (*it)[1];
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
    static const std::regex clause(R"rx(\$trend using 1:(\d+) with \w+ linetype \d+ title "([^"]*)")rx");
    std::map<std::string, int> column_of;
    for (auto it = std::sregex_iterator(script.begin(), script.end(), clause);
         it != std::sregex_iterator(); ++it)
        column_of[(*it)[2]] = std::stoi((*it)[1]);
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

    EXPECT_EQ(ReadFile(image), "earlier image");
    EXPECT_EQ(ReadFile(image + ".partial"), "someone's notes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()), {}), 2);
}

class BenchHostPlotTest : public ::testing::Test {
protected:
    int RunHost(const std::vector<std::string>& args) {
        std::vector<std::string> all = {"--history", "h.sqlite"};
        all.insert(all.end(), args.begin(), args.end());
        ToolProcess host(BENCH_HOST, all, scratch_.Path());
        const std::optional<int> status = host.WaitFor(std::chrono::seconds(60));
        out_ = host.Stdout();
        err_ = host.Stderr();
        return status.value_or(-1);
    }

    ScratchDirectory scratch_;
    std::string out_;
    std::string err_;
};

// Rounds lost at the start, in the middle, two in a row, at the end, none.
TEST_F(BenchHostPlotTest, EverySeriesIsTitledAndBreaksWhereRoundsWereLost) {
    const std::pair<std::vector<int>, std::vector<std::size_t>> cases[] = {
        {{}, {12}}, {{5}, {4, 7}}, {{2, 8, 9}, {1, 5, 3}}, {{4, 11}, {3, 6, 1}}};
    for (const auto& [lost, pieces] : cases) {
        std::filesystem::remove(scratch_.File("h.sqlite"));
        const std::vector<HistoryRow> rows = RoundsWithLost(12, lost);
        Store(scratch_.File("h.sqlite"), rows);

        ASSERT_EQ(RunHost({"--plot", "trend.svg"}), 0) << err_;
        const std::size_t gaps = pieces.size() - 1;
        EXPECT_EQ(out_, "plot: trend.svg, data id 1201: " + std::to_string(rows.size()) +
                            " records stored " + rows.front().stored_at + " to " +
                            rows.back().stored_at + ", " + std::to_string(gaps) +
                            (gaps == 1 ? " gap\n" : " gaps\n"));
        const auto drawn = SeriesOf(ReadFile(scratch_.File("trend.svg")));
        EXPECT_EQ(drawn.size(), kSeries.size());
        for (const auto& series : kSeries)  // a one-record piece: a point, no line
            EXPECT_EQ(drawn.count(series.first) ? drawn.at(series.first) : std::vector<std::size_t>{},
                      pieces)
                << series.first;
    }
    ASSERT_EQ(RunHost({"--plot", "Trend.PNG"}), 0) << err_;
    EXPECT_EQ(ReadFile(scratch_.File("Trend.PNG")).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST_F(BenchHostPlotTest, ADataIdWithoutHistoryIsAClearError) {
    Store(scratch_.File("h.sqlite"), {Row(kDataId, 0, 1.0), Row(kDataId, 1, 2.0)});
    EXPECT_EQ(RunHost({"--plot", "trend.svg", "--data-id", "77"}), 6);
    EXPECT_EQ(err_, "bench_host: history file h.sqlite holds no records of data id 77; "
                    "it holds data id 1201\n");
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("trend.svg")));

    Store(scratch_.File("h.sqlite"), {Row(77, 0, 3.0)});
    EXPECT_EQ(RunHost({"--plot", "trend.svg"}), 2);
    EXPECT_EQ(err_, "bench_host: history file h.sqlite holds data ids 77, 1201: "
                    "choose one with --data-id\n");
    EXPECT_EQ(RunHost({"--plot", "trend.svg", "--data-id", "77"}), 0) << err_;
    EXPECT_NE(out_.find("data id 77: 1 record stored"), std::string::npos) << out_;

    std::filesystem::remove(scratch_.File("h.sqlite"));
    Store(scratch_.File("h.sqlite"), {});
    EXPECT_EQ(RunHost({"--plot", "empty.svg"}), 6);
    EXPECT_EQ(err_, "bench_host: history file h.sqlite holds no records\n");
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
        EXPECT_NE(err_.find("(see --help)"), std::string::npos) << err_;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch_.File("h.sqlite")));
}

}  // namespace
