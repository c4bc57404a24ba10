// A run with known faults on two meters, counted reason by reason; the
// rates against the wire limit; and the JSON against the printed table.
#include "BenchError.h"
#include "PollStatistics.h"
#include "RunOutput.h"
#include "ScratchDirectory.h"
#include "JsonFile.h"
#include "StatisticsFigurePaths.h"
#include "StatisticsJson.h"
#include "StatisticsText.h"

#include <json/reader.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using Clock = PollStatistics::Clock;
using std::chrono::milliseconds;

const MeterKey kMeterA{1, 101};
const MeterKey kMeterB{2, 102};

WireBudget MeterLine() {
    return WireBudget(LineSettings{}, 8, 58);  // 9600 8N1: 76.04 ms a poll
}

// Meter A: 20 rounds, 100 ms apart, answered 60 + n ms after request n
// except 5 and 9 (no answer), 12 (short) and 17 (too long).
// Meter B: 10 rounds answered after 20 ms except 2 (wrong station),
// 4 (echo mismatch), 6 and 7 (noise), the last cut short by a stop.
// The run lasts 10 s from the first request's first byte.
class KnownRun : public ::testing::Test {
protected:
    KnownRun() : statistics_(MeterLine()) {
        const Clock::time_point start = Clock::time_point() + std::chrono::hours(1);
        Clock::time_point at = start + std::chrono::duration_cast<Clock::duration>(
                                           MeterLine().RequestTime());
        const std::map<int, LossReason> a_faults = {{5, LossReason::kNoAnswer},
                                                    {9, LossReason::kNoAnswer},
                                                    {12, LossReason::kShort},
                                                    {17, LossReason::kTooLong}};
        for (int n = 1; n <= 20; ++n, at += milliseconds(100))
            Round(kMeterA, at, a_faults, milliseconds(60 + n));
        const std::map<int, LossReason> b_faults = {{2, LossReason::kWrongStation},
                                                    {4, LossReason::kEchoMismatch},
                                                    {6, LossReason::kNoise},
                                                    {7, LossReason::kNoise}};
        for (int n = 1; n <= 9; ++n, at += milliseconds(100))
            Round(kMeterB, at, b_faults, milliseconds(20));
        statistics_.RequestSent(kMeterB, at);
        statistics_.ExchangeStopped(kMeterB);
        statistics_.Finish(start + std::chrono::seconds(10));
    }

    void Round(const MeterKey& meter, Clock::time_point at,
               const std::map<int, LossReason>& faults, milliseconds response) {
        const int n = ++rounds_[meter.station];
        statistics_.RequestSent(meter, at);
        const auto fault = faults.find(n);
        if (fault != faults.end())
            statistics_.RoundLost(meter, fault->second);
        else
            statistics_.RoundCompleted(meter, at + response);
    }

    PollStatistics statistics_;
    std::map<unsigned, int> rounds_;
};

void ExpectLosses(const PollFigures& figures, const std::map<LossReason, std::uint64_t>& expected,
                  const char* who) {
    for (LossReason reason : kLossReasons) {
        const auto found = expected.find(reason);
        EXPECT_EQ(figures.LostFor(reason), found == expected.end() ? 0u : found->second)
            << who << ": " << LossReasonLabel(reason);
    }
}

TEST_F(KnownRun, CountsEveryFaultUnderItsOwnReasonPerMeterAndForTheLine) {
    const StatisticsReport report = statistics_.Report();
    ASSERT_EQ(report.meters.size(), 2u);
    EXPECT_EQ(report.meters[0].first, kMeterA) << "meters in the order first polled";
    EXPECT_EQ(report.meters[1].first, kMeterB);

    const PollFigures& a = report.meters[0].second;
    EXPECT_EQ(a.requests_sent, 20u);
    EXPECT_EQ(a.rounds_completed, 16u);
    EXPECT_EQ(a.rounds_lost, 4u);
    ExpectLosses(a, {{LossReason::kNoAnswer, 2}, {LossReason::kShort, 1}, {LossReason::kTooLong, 1}},
                 "meter A");
    EXPECT_EQ(a.exchanges_stopped, 0u);
    EXPECT_DOUBLE_EQ(a.loss_percent, 20.0);

    const PollFigures& b = report.meters[1].second;
    EXPECT_EQ(b.requests_sent, 10u);
    EXPECT_EQ(b.rounds_completed, 5u);
    ExpectLosses(b, {{LossReason::kWrongStation, 1}, {LossReason::kEchoMismatch, 1},
                     {LossReason::kNoise, 2}},
                 "meter B");
    EXPECT_EQ(b.exchanges_stopped, 1u) << "a cut-short exchange is not lost";
    EXPECT_DOUBLE_EQ(b.loss_percent, 100.0 * 4 / 9);

    const PollFigures& line = report.line_total;
    EXPECT_EQ(line.requests_sent, 30u);
    EXPECT_EQ(line.rounds_completed, 21u);
    EXPECT_EQ(line.rounds_lost, 8u);
    ExpectLosses(line, {{LossReason::kNoAnswer, 2}, {LossReason::kShort, 1},
                        {LossReason::kTooLong, 1}, {LossReason::kWrongStation, 1},
                        {LossReason::kEchoMismatch, 1}, {LossReason::kNoise, 2}},
                 "line");
    EXPECT_EQ(line.exchanges_stopped, 1u);
    EXPECT_DOUBLE_EQ(line.loss_percent, 100.0 * 8 / 29);
}

// Only completed rounds have a response time: A's are 61..80 ms without
// 65, 69, 72 and 77; B's all 20 ms.
TEST_F(KnownRun, ResponseTimesComeFromCompletedRoundsOnly) {
    const StatisticsReport report = statistics_.Report();
    const double a_sum = 61 + 62 + 63 + 64 + 66 + 67 + 68 + 70 + 71 + 73 + 74 + 75 + 76 + 78 + 79 + 80;
    ASSERT_TRUE(report.meters[0].second.response);
    const ResponseFigures& a = *report.meters[0].second.response;
    EXPECT_NEAR(a.min_ms, 61.0, 1e-6);
    EXPECT_NEAR(a.mean_ms, a_sum / 16, 1e-6);
    EXPECT_NEAR(a.p95_ms, 80.0, 1e-6) << "rank ceil(0.95 * 16) = 16 of 16";
    EXPECT_NEAR(a.max_ms, 80.0, 1e-6);

    ASSERT_TRUE(report.line_total.response);
    const ResponseFigures& line = *report.line_total.response;
    EXPECT_NEAR(line.min_ms, 20.0, 1e-6);
    EXPECT_NEAR(line.mean_ms, (a_sum + 5 * 20) / 21, 1e-6);
    EXPECT_NEAR(line.p95_ms, 79.0, 79.0 * 0.0041) << "rank ceil(0.95 * 21) = 20 of 21";
    EXPECT_NEAR(line.max_ms, 80.0, 1e-6);
}

// 30 requests in 10 s on a line that carries 13.1507 polls a second.
TEST_F(KnownRun, PollsPerSecondAgainstTheWireLimit) {
    const StatisticsReport report = statistics_.Report();
    EXPECT_DOUBLE_EQ(report.run_seconds, 10.0);
    EXPECT_NEAR(report.poll_ms, 76.0417, 1e-4);
    EXPECT_NEAR(report.wire_limit_polls_per_second, 13.1507, 1e-4);
    EXPECT_NEAR(report.meters[0].second.polls_per_second, 2.0, 1e-9);
    EXPECT_NEAR(report.meters[1].second.polls_per_second, 1.0, 1e-9);
    EXPECT_NEAR(report.line_total.polls_per_second, 3.0, 1e-9);
    EXPECT_NEAR(report.line_total.line_use_percent, 3.0 * 76.0417 / 10, 1e-3);
    EXPECT_NEAR(report.meters[0].second.line_use_percent, 2.0 * 76.0417 / 10, 1e-3);
}

// A lost exchange leaves no open request whose time a later completion
// without a request of its own (a reloaded record) could be measured from.
TEST(PollStatisticsTest, LostExchangeLeavesNoResponseTimeBehind) {
    PollStatistics statistics(MeterLine());
    const Clock::time_point at = Clock::time_point() + std::chrono::hours(1);
    statistics.AddMeter(kMeterB);
    statistics.RequestSent(kMeterA, at);
    statistics.RoundLost(kMeterA, LossReason::kNoAnswer);
    statistics.RoundCompleted(kMeterA, at + std::chrono::seconds(3));
    statistics.Finish(at + std::chrono::seconds(4));
    const StatisticsReport report = statistics.Report();
    ASSERT_EQ(report.meters.size(), 2u);
    EXPECT_EQ(report.meters[0].first, kMeterB) << "listed before it was polled";
    EXPECT_EQ(report.meters[0].second.requests_sent, 0u);
    EXPECT_EQ(report.meters[1].second.rounds_completed, 1u);
    EXPECT_FALSE(report.meters[1].second.response);
    EXPECT_FALSE(report.line_total.response);
}

// The table's cells by row label and column: label -> one cell per meter, the line last.
StatisticsCells TableCells(const std::string& text) {
    return ReadStatisticsTable(text);
}

TEST_F(KnownRun, JsonFileCarriesTheNumbersOfTheTable) {
    const StatisticsReport report = statistics_.Report();
    std::ostringstream text;
    WriteStatisticsText(text, report);
    EXPECT_NE(text.str().find("statistics over 10.00 s at 9600 8N1: wire limit 13.15 polls/s "
                              "(76.04 ms a poll)"),
              std::string::npos)
        << text.str();

    ScratchDirectory scratch;
    const std::string path = scratch.File("stats.json");
    WriteStatisticsJsonFile(path, StatisticsReport{});  // an older run's
    WriteStatisticsJsonFile(path, report);
    const Json::Value json = ReadJsonFile(path);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file left beside it";
    EXPECT_EQ(json["line_settings"]["parity"].asString(), "none");
    EXPECT_DOUBLE_EQ(json["wire_limit_polls_per_second"].asDouble(), 13.15);

    const std::vector<const Json::Value*> columns = {&json["meters"][0], &json["meters"][1],
                                                     &json["line"]};
    EXPECT_EQ(json["meters"][1]["station"].asUInt(), 2u);
    EXPECT_EQ(json["meters"][1]["data_id"].asUInt(), 102u);
    const auto& rows = StatisticsFigurePaths();
    const auto cells = TableCells(text.str());
    ASSERT_EQ(cells.size(), rows.size()) << text.str();
    for (const auto& [label, json_path] : rows) {
        ASSERT_EQ(cells.count(label), 1u) << label;
        ASSERT_EQ(cells.at(label).size(), columns.size()) << label;
        for (std::size_t column = 0; column < columns.size(); ++column) {
            const Json::Value* value = columns[column];
            for (const std::string& key : json_path)
                value = &(*value)[key];
            EXPECT_DOUBLE_EQ(std::stod(cells.at(label)[column]), value->asDouble())
                << label << ", column " << column;
        }
    }
}

TEST(PollStatisticsTest, UnpolledMeterHasItsColumnWithoutResponseTimes) {
    PollStatistics statistics(MeterLine());
    statistics.AddMeter(MeterKey{247, 4294967295u});
    const StatisticsReport report = statistics.Report();
    std::ostringstream text;
    WriteStatisticsText(text, report);
    EXPECT_NE(text.str().find("  data id 4294967295  "), std::string::npos)
        << "the widest data id stands apart\n" << text.str();
    EXPECT_EQ(TableCells(text.str()).at("response p95 ms"), std::vector<std::string>({"-", "-"}));
    EXPECT_TRUE(StatisticsToJson(report)["line"]["response_ms"].isNull());
    EXPECT_DOUBLE_EQ(report.line_total.polls_per_second, 0.0) << "a run that never began";
}

// A file that cannot be replaced is a clear error that leaves what is there.
TEST(PollStatisticsTest, UnwritableJsonFileIsAnErrorAndLeavesNothingBehind) {
    ScratchDirectory scratch;
    const StatisticsReport report = PollStatistics(MeterLine()).Report();
    const std::string directory = scratch.File("taken");
    std::filesystem::create_directory(directory);
    for (const std::string& path : {directory, scratch.File("missing/stats.json")}) {
        try {
            WriteStatisticsJsonFile(path, report);
            ADD_FAILURE() << "wrote " << path;
        } catch (const BenchError& error) {
            EXPECT_NE(std::string(error.what()).find("--stats-json: cannot write " + path),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(directory));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

// A line of `count` meters at stations 1..count, data ids 1000 up: meter i
// sends 2 + i % 4 requests, loses i % 3 of them for reason i % 11 and one
// more for the next reason every fifth meter, the rest answered after
// 60 + i ms; the run lasts 100 s.
StatisticsReport LineOfMeters(int count) {
    PollStatistics statistics(MeterLine());
    const Clock::time_point start = Clock::time_point() + std::chrono::hours(1);
    Clock::time_point at = start;
    for (int i = 0; i < count; ++i)
        statistics.AddMeter(MeterKey{static_cast<std::uint8_t>(i + 1), 1000u + i});
    for (int i = 0; i < count; ++i) {
        const MeterKey meter{static_cast<std::uint8_t>(i + 1), 1000u + static_cast<unsigned>(i)};
        const int lost = i % 3;
        const int also_lost = i % 5 == 0 ? 1 : 0;
        for (int n = 0; n < 2 + i % 4; ++n, at += milliseconds(100)) {
            statistics.RequestSent(meter, at);
            if (n < lost)
                statistics.RoundLost(meter, kLossReasons[i % kLossReasonCount]);
            else if (n < lost + also_lost)
                statistics.RoundLost(meter, kLossReasons[(i + 1) % kLossReasonCount]);
            else
                statistics.RoundCompleted(meter, at + milliseconds(60 + i));
        }
    }
    statistics.Finish(start + std::chrono::seconds(100));
    return statistics.Report();
}

// The tables of one row per meter: label (its two header lines joined) ->
// one cell per meter and the line's last; the reasons' words under "lost by
// reason <label>". Columns are right-aligned and at least two spaces apart,
// the last free text where "rounds lost by reason" heads it.
std::map<std::string, std::vector<std::string>> MeterRowCells(const std::string& text) {
    std::map<std::string, std::vector<std::string>> cells;
    std::vector<std::vector<std::string>> tables(1);
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        if (line.empty())
            tables.emplace_back();
        else
            tables.back().push_back(line);
    }
    // Ends of the runs of text separated by two spaces or more.
    const auto ends = [](const std::string& text) {
        std::map<std::size_t, std::string> found;
        std::size_t at = text.find_first_not_of(' ');
        while (at != std::string::npos) {
            std::size_t end = text.find("  ", at);
            end = end == std::string::npos ? text.size() : end;
            found[end] = text.substr(at, end - at);
            at = text.find_first_not_of(' ', end);
        }
        return found;
    };
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const std::vector<std::string>& table = tables[t];
        if (table.size() < 3)
            continue;
        const std::map<std::size_t, std::string> tops = ends(table[0]);
        const std::size_t trailing = table[1].find("rounds lost by reason");
        const std::map<std::size_t, std::string> bottoms =
            ends(table[1].substr(0, trailing == std::string::npos ? std::string::npos : trailing));
        std::size_t row_index = 0;
        for (std::size_t row = 2; row < table.size(); ++row) {
            // A list of reasons too long for its line goes on under itself.
            const bool continued = trailing != std::string::npos &&
                                   table[row].find_first_not_of(' ') >= trailing;
            row_index += row > 2 && !continued ? 1 : 0;
            std::size_t start = 0;
            for (const auto& [end, bottom] : continued ? decltype(bottoms){} : bottoms) {
                const auto top = tops.find(end);
                const std::string label = top == tops.end() ? bottom : top->second + " " + bottom;
                std::string cell = table[row].substr(start, end - start);
                cell.erase(0, cell.find_first_not_of(' '));
                if (t == 0 || (label != "station" && label != "data id"))  // each table's own
                    cells[label].push_back(cell);
                start = end;
            }
            if (trailing == std::string::npos)
                continue;
            std::istringstream reasons(table[row].substr(trailing));
            for (std::string reason; std::getline(reasons, reason, ',');) {
                reason.erase(0, reason.find_first_not_of(' '));
                if (reason == "-")
                    continue;
                const std::size_t last_space = reason.rfind(' ');
                cells["lost by reason " + reason.substr(0, last_space)].push_back(
                    std::to_string(row_index) + ":" + reason.substr(last_space + 1));
            }
        }
    }
    return cells;
}

// Up to four meters (data ids of four digits), a column each; beyond, a row
// each; never wider than 100 characters, and every figure the JSON carries.
TEST(StatisticsTextTest, ALineOfAnyLengthIsPrintedWithinAHundredCharactersWithEveryFigure) {
    for (const int count : {1, 3, 4, 5, 6, 32, 247}) {
        const StatisticsReport report = LineOfMeters(count);
        std::ostringstream printed;
        WriteStatisticsText(printed, report);
        const std::string text = printed.str();
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            EXPECT_LE(line.size(), 100u) << count << " meters: " << line;

        const Json::Value json = StatisticsToJson(report);
        std::vector<const Json::Value*> columns;
        for (Json::ArrayIndex i = 0; i < json["meters"].size(); ++i)
            columns.push_back(&json["meters"][i]);
        columns.push_back(&json["line"]);
        const bool by_column = count <= 4;
        const auto cells = by_column ? TableCells(text) : MeterRowCells(text);
        std::size_t labels_found = 0;
        for (const auto& [label, json_path] : StatisticsFigurePaths()) {
            const bool reason = json_path.front() == "lost_by_reason";
            if (!by_column && reason) {
                // Named with its count where it is not 0.
                std::vector<std::string> expected;
                for (std::size_t column = 0; column < columns.size(); ++column) {
                    const auto lost = (*columns[column])["lost_by_reason"][json_path[1]].asUInt64();
                    if (lost != 0)
                        expected.push_back(std::to_string(column) + ":" + std::to_string(lost));
                }
                const auto found = cells.find("lost by reason " + label);
                EXPECT_EQ(found == cells.end() ? std::vector<std::string>{} : found->second, expected)
                    << count << " meters: " << label;
                continue;
            }
            ASSERT_EQ(cells.count(label), 1u) << count << " meters: " << label << "\n" << text;
            ++labels_found;
            const std::vector<std::string>& row = cells.at(label);
            ASSERT_EQ(row.size(), columns.size()) << label;
            for (std::size_t column = 0; column < columns.size(); ++column) {
                const Json::Value* value = columns[column];
                for (const std::string& key : json_path)
                    value = &(*value)[key];
                if (row[column] == "-")
                    EXPECT_TRUE(value->isNull()) << label << ", column " << column;
                else
                    EXPECT_NEAR(std::stod(row[column]), value->asDouble(), 0.005)
                        << count << " meters: " << label << ", column " << column;
            }
        }
        EXPECT_EQ(labels_found, by_column ? StatisticsFigurePaths().size() : 11u);
        if (!by_column) {
            ASSERT_EQ(cells.at("station").size(), columns.size());
            EXPECT_EQ(cells.at("station").front(), "1");
            EXPECT_EQ(cells.at("station").back(), "line");
            EXPECT_EQ(cells.at("data id").back(), "all meters");
        }
    }
}

}  // namespace

// What the run says of its line beside the figures: the checksum check,
// the outages and the adapter's latency timer, each with its value when
// there is none.
TEST(StatisticsJsonTest, TheLinesOwnFactsAreInTheFileAsTheRunHadThem) {
    StatisticsReport report;
    Json::Value json = StatisticsToJson(report);
    EXPECT_TRUE(json["checksum_checked"].asBool());
    EXPECT_EQ(json["outages"]["count"].asUInt(), 0u);
    EXPECT_TRUE(json["latency_timer_ms"].isNull());

    report.checksum_checked = false;
    report.outages = 2;
    report.outage_seconds = 12.5;
    report.latency_timer_ms = 16;
    json = StatisticsToJson(report);
    EXPECT_FALSE(json["checksum_checked"].asBool());
    EXPECT_EQ(json["outages"]["count"].asUInt(), 2u);
    EXPECT_DOUBLE_EQ(json["outages"]["seconds"].asDouble(), 12.5);
    EXPECT_EQ(json["latency_timer_ms"].asInt(), 16);
}
