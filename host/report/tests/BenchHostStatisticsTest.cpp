// The statistics block and the --stats-json file of real runs: the bench
// host's own process, the real qvt7702.so, the simulated line.
#include "BenchHostTest.h"
#include "RunOutput.h"
#include "JsonFile.h"
#include "LineSettings.h"
#include "StatisticsFigurePaths.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/value.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kAnswerCharacters = 58.0;
constexpr double kSilentCharacters = 3.5;
constexpr const char* kReasonLabels[] = {"no answer",     "short",         "too long",
                                         "wrong station", "echo mismatch", "noise",
                                         "bad checksum"};

using StatisticsTable = StatisticsCells;

class BenchHostStatisticsTest : public BenchHostTest {
protected:
    // The printed statistics: one row of cells per label, one cell per
    // meter and the line's last.
    StatisticsTable Table() const { return ReadStatisticsTable(out); }

    // The line's column as numbers; "-" (no completed round) as nothing.
    static std::optional<double> LineCell(const StatisticsTable& table, const std::string& label) {
        const auto row = table.find(label);
        if (row == table.end() || row->second.empty() || row->second.back() == "-")
            return std::nullopt;
        return std::stod(row->second.back());
    }
};

// ---------------------------------------------------------------------------
// Known faults, counted reason by reason

struct FaultCase {
    const char* name;
    std::vector<std::string> args;  // faults and line options
    std::map<std::string, double> lost_by_reason;  // the rest must be 0
};

class KnownFaultsTest : public BenchHostStatisticsTest,
                        public ::testing::WithParamInterface<FaultCase> {};

// A loaded machine can add a lost round (an answer later than the timeout),
// never remove one: a run whose losses exceed the faults' is run again, up
// to three times, and the last is judged.
TEST_P(KnownFaultsTest, EachFaultCountsOnceUnderItsReason) {
    const FaultCase& fault = GetParam();
    constexpr double kRounds = 20;
    std::vector<std::string> args = {"--rounds", "20", "--interval", "0", "--timeout", "150",
                                     "--sim-late", "200"};
    args.insert(args.end(), fault.args.begin(), fault.args.end());
    double expected_lost = 0;
    for (const auto& reason : fault.lost_by_reason)
        expected_lost += reason.second;

    const auto matches = [&fault](const StatisticsTable& table) {
        for (const char* reason : kReasonLabels) {
            const auto expected = fault.lost_by_reason.find(reason);
            if (LineCell(table, reason) !=
                (expected == fault.lost_by_reason.end() ? 0.0 : expected->second))
                return false;
        }
        return true;
    };
    StatisticsTable table;
    UntilTheLoadAllows([&] {
        EXPECT_EQ(RunHost(args), 0) << err;
        table = Table();
        return matches(table);
    });
    EXPECT_EQ(LineCell(table, "requests sent"), kRounds) << out;
    EXPECT_EQ(LineCell(table, "rounds completed"), kRounds - expected_lost) << out;
    EXPECT_EQ(LineCell(table, "rounds lost"), expected_lost) << out;
    for (const char* reason : kReasonLabels) {
        const auto expected = fault.lost_by_reason.find(reason);
        EXPECT_EQ(LineCell(table, reason),
                  expected == fault.lost_by_reason.end() ? 0.0 : expected->second)
            << reason << "\n" << out;
    }
    EXPECT_NEAR(*LineCell(table, "loss %"), 100.0 * expected_lost / kRounds, 0.005) << out;
    EXPECT_EQ(LineCell(table, "exchanges stopped"), 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, KnownFaultsTest,
    ::testing::Values(
        // A late answer (200 ms) outlasts the timeout (150 ms) and costs its
        // own round only, counted as late: it arrives while the host waits
        // out the late limit.
        FaultCase{"SilentShortLate",
                  {"--sim-fault", "silent@3,9", "--sim-fault", "short@5", "--sim-fault",
                   "late@12"},
                  {{"no answer", 2}, {"short", 1}, {"late", 1}}},
        // An extra tail is a lost round only when the host is in doubt (after
        // another station's answer) and holds the record back.
        FaultCase{"StationNoiseTooLong",
                  {"--sim-fault", "station@3", "--sim-fault", "extra@4", "--sim-fault",
                   "noise@10"},
                  {{"wrong station", 1}, {"too long", 1}, {"noise", 1}}},
        FaultCase{"GarbledEcho",
                  {"--echo", "--sim-echo", "--sim-fault", "echo@7,15"},
                  {{"echo mismatch", 2}}},
        FaultCase{"Corrupt", {"--sim-fault", "corrupt@6,16"}, {{"bad checksum", 2}}},
        FaultCase{"None", {}, {}}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Response times against the line's pacing

// An answer cannot end sooner after the request than the request's silent
// interval plus the answer's own 58 characters, at any speed; a completed
// round ended within the answer timeout.
class ResponseTimeTest : public BenchHostStatisticsTest,
                         public ::testing::WithParamInterface<int> {};

TEST_P(ResponseTimeTest, NoAnswerBeatsTheLinesPaceOrOutlastsTheTimeout) {
    const int baud = GetParam();
    LineSettings line;
    line.baud = baud;
    const double character_ms = line.CharacterTime().count() / 1e3;
    const double timeout_ms = static_cast<double>(line.DefaultAnswerTimeout().count());
    ASSERT_EQ(RunHost({"--rounds", "6", "--interval", "0", "--baud", std::to_string(baud)}), 0)
        << err;
    const StatisticsTable table = Table();
    ASSERT_TRUE(LineCell(table, "response min ms").has_value()) << out;
    const double fastest = (kAnswerCharacters + kSilentCharacters) * character_ms;
    EXPECT_GE(*LineCell(table, "response min ms"), fastest - 0.01) << out;
    EXPECT_LE(*LineCell(table, "response min ms"), *LineCell(table, "response mean ms"));
    EXPECT_LE(*LineCell(table, "response mean ms"), *LineCell(table, "response max ms"));
    EXPECT_LE(*LineCell(table, "response p95 ms"), *LineCell(table, "response max ms"));
    EXPECT_LE(*LineCell(table, "response max ms"), timeout_ms) << out;
}

INSTANTIATE_TEST_SUITE_P(Speeds, ResponseTimeTest, ::testing::Values(2400, 9600, 38400));

// ---------------------------------------------------------------------------
// The JSON file against the printed table


void ExpectSameFigures(const StatisticsTable& table, std::size_t column, const Json::Value& figures,
                       const std::string& where) {
    for (const auto& [label, path] : StatisticsFigurePaths()) {
        const auto row = table.find(label);
        ASSERT_NE(row, table.end()) << label;
        Json::Value value = figures;
        for (const std::string& key : path)
            value = value.isNull() ? value : value[key];
        if (row->second.at(column) == "-")
            EXPECT_TRUE(value.isNull()) << where << ": " << label;
        else
            EXPECT_NEAR(std::stod(row->second.at(column)), value.asDouble(), 1e-9)
                << where << ": " << label;
    }
}

TEST_F(BenchHostStatisticsTest, JsonFileCarriesThePrintedNumbersForEachMeterAndTheLine) {
    const std::string examples = QVT7702_EXAMPLES;
    const std::string json = scratch.File("stats.json");
    ASSERT_EQ(RunHost({"--rounds", "4", "--interval", "0", "--timeout", "150", "--settings",
                       examples + "/qvt7702-settings.json", "--settings",
                       examples + "/qvt7702-settings-station2.json", "--settings",
                       examples + "/qvt7702-settings-station3.json", "--sim-fault", "silent@2:3",
                       "--stats-json", json}),
              0)
        << err;
    const StatisticsTable table = Table();
    const Json::Value root = ReadJsonFile(json);
    ASSERT_EQ(root["meters"].size(), 3u);
    for (Json::ArrayIndex i = 0; i < 3; ++i) {
        EXPECT_EQ(root["meters"][i]["station"].asUInt(), i + 1);
        ExpectSameFigures(table, i, root["meters"][i], "station " + std::to_string(i + 1));
    }
    ExpectSameFigures(table, 3, root["line"], "line");
    EXPECT_EQ(root["line"]["requests_sent"].asUInt(), 12u);
    EXPECT_EQ(root["meters"][1]["lost_by_reason"]["no_answer"].asUInt(), 1u) << out;
    EXPECT_NE(out.find(" at 9600 8N1: wire limit " +
                       [&] {
                           std::ostringstream text;
                           text.setf(std::ios::fixed);
                           text.precision(2);
                           text << root["wire_limit_polls_per_second"].asDouble();
                           return text.str();
                       }()),
              std::string::npos)
        << out;
}

// ---------------------------------------------------------------------------
// Every ending prints the statistics (a stop's: StopSignalTest); a bad file
// is refused before polling

// Each parity is written as itself, never as the other one, in the
// banner's framing and in the JSON file alike.
TEST_F(BenchHostStatisticsTest, EachParityIsNamedAsItselfInTheJsonFile) {
    const std::pair<const char*, const char*> parities[] = {
        {"none", "8N1"}, {"even", "8E1"}, {"odd", "8O1"}};
    for (const auto& [parity, framing] : parities) {
        const std::string json = scratch.File(std::string(parity) + ".json");
        ASSERT_EQ(RunHost({"--rounds", "1", "--interval", "0", "--parity", parity, "--stats-json",
                           json}),
                  0)
            << parity << ": " << err;
        EXPECT_NE(out.find(std::string(" baud ") + framing + ";"), std::string::npos) << out;
        EXPECT_EQ(ReadJsonFile(json)["line_settings"]["parity"].asString(), parity);
        EXPECT_EQ(ReadJsonFile(json)["line"]["rounds_completed"].asUInt(), 1u)
            << parity << ": the simulated meter answers at that parity";
        RemoveHistory();
    }
}

TEST_F(BenchHostStatisticsTest, AStatisticsFileThatCannotBeWrittenStopsTheRunBeforeItsFirstPoll) {
    for (const std::string& bad :
         {scratch.File("no-such-folder/stats.json"), scratch.Path()}) {
        EXPECT_EQ(RunHost({"--rounds", "1", "--stats-json", bad}), 1) << bad;
        EXPECT_NE(err.find("--stats-json: cannot write " + bad), std::string::npos) << err;
        EXPECT_EQ(out.find("done:"), std::string::npos) << out;
        EXPECT_EQ(out.find("requests sent"), std::string::npos) << out;
    }
    EXPECT_EQ(RunHost({"--stats-json", ""}), 2);
    EXPECT_EQ(RunHost({"--dump", "--stats-json", scratch.File("stats.json")}), 2);
}

}  // namespace
