// The bench host as a user runs it: its own process, the real qvt7702.so,
// the embedded simulated meter on a pseudo-terminal, SQLite history.
#include "BenchHostTest.h"
#include "RunOutput.h"
#include "FaultPlan.h"
#include "HeldWriteLock.h"
#include "JsonFile.h"
#include "RecordCheck.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"
#include "SimulatedReadings.h"
#include "TextPattern.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/asio/io_context.hpp>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <thread>

namespace {

constexpr std::uint32_t kDataId = 1201;  // the example settings'

class BenchHostEndToEndTest : public BenchHostTest {
protected:
    // The example settings' meter: every record under its data id.
    std::vector<MeterRecord> StoredRecords() const {
        std::vector<MeterRecord> records = BenchHostTest::StoredRecords();
        for (const MeterRecord& record : records)
            EXPECT_EQ(record.DataId(), kDataId);
        return records;
    }

    static bool Carries(const MeterRecord& record, std::uint32_t answer) {
        return CarriesAnswer(record, 1, answer) && record.DataId() == kDataId;
    }

    // The rows of the table by label ("cache", "1", "2", ...).
    std::map<std::string, RoundRow> TableRows() const {
        std::map<std::string, RoundRow> rows;
        for (RoundRow& row : ReadRoundRows(out))
            rows[row.label] = std::move(row);
        return rows;
    }

    RunSummary Ending() const { return ReadSummary(out).value_or(RunSummary{}); }

    // The words a round's own answer puts into the record: bytes 9 to 32 of
    // the first 58 bytes the simulated meter sent for that round's request
    // (request N is round N's). Noise shifts them: the driver takes any 58
    // bytes. Nothing when the meter sent fewer.
    static std::optional<SimulatedReadings::Words> OwnAnswerWords(std::uint32_t round,
                                                                  const FaultPlan& plan) {
        const std::vector<unsigned char> sent = SimulatedMeter::AnswerTo(1, round, plan.At(round));
        if (sent.size() < static_cast<std::size_t>(SimulatedReadings::kBlockLength))
            return std::nullopt;
        SimulatedReadings::Words words{};
        for (int i = 0; i < SimulatedReadings::kWordCount; ++i) {
            const int at = SimulatedReadings::kFirstWordByte + 2 * i;
            words[i] = static_cast<std::uint16_t>(sent[at] << 8 | sent[at + 1]);
        }
        return words;
    }

    static bool HoldsOwnAnswer(const MeterRecord& record, std::uint32_t round,
                               const FaultPlan& plan) {
        const auto words = OwnAnswerWords(round, plan);
        if (!words || record.DataId() != kDataId)
            return false;
        for (int i = 0; i < MeterRecord::kWordCount; ++i)
            if (record.Word(i) != static_cast<float>((*words)[i]))
                return false;
        return true;
    }

    // Runs `rounds` rounds with the faults and checks what every run must
    // give: each completed round stored, each record holding its own
    // round's answer, the summary agreeing. Returns the lost rounds.
    std::set<std::uint32_t> RunAndCheckRecords(std::vector<std::string> args,
                                               const std::vector<std::string>& faults,
                                               std::uint32_t rounds) {
        FaultPlan plan;
        for (const std::string& fault : faults) {
            plan.Add(fault);
            args.insert(args.end(), {"--sim-fault", fault});
        }
        args.insert(args.end(), {"--rounds", std::to_string(rounds)});
        EXPECT_EQ(RunHost(args), 0) << err;
        EXPECT_EQ(err, "");

        std::vector<std::uint32_t> completed;
        std::set<std::uint32_t> lost;
        std::uint64_t done = 0;
        for (const RoundRow& row : ReadPollRows(out)) {
            if (row.done > done)
                completed.push_back(row.round);
            else
                lost.insert(row.round);
            done = row.done;
        }
        const RunSummary summary = Ending();
        EXPECT_EQ(summary.rounds, rounds) << out;
        EXPECT_EQ(completed.size() + lost.size(), rounds) << out;
        EXPECT_EQ(summary.completed, completed.size());
        EXPECT_EQ(summary.lost, lost.size());

        const std::vector<MeterRecord> records = StoredRecords();
        EXPECT_EQ(records.size(), completed.size()) << "every completed round stored, no other";
        std::size_t own = 0;
        for (std::size_t i = 0; i < std::min(records.size(), completed.size()); ++i) {
            if (HoldsOwnAnswer(records[i], completed[i], plan))
                ++own;
            else
                ADD_FAILURE() << "round " << completed[i] << " stored another answer\n" << out;
        }
        EXPECT_EQ(own, summary.completed);
        return lost;
    }

    // Every attempt must keep each record its own (RunAndCheckRecords fails
    // the test otherwise), while what the faults cost is judged on the
    // first attempt that the machine did not hold up.
    std::set<std::uint32_t> RunUntilCostHolds(
        const std::vector<std::string>& args, const std::vector<std::string>& faults,
        std::uint32_t rounds, const std::function<bool(const std::set<std::uint32_t>&)>& holds) {
        std::set<std::uint32_t> lost;
        UntilTheLoadAllows([&] {
            lost = RunAndCheckRecords(args, faults, rounds);
            return holds(lost);
        });
        return lost;
    }

    // A voltage as the table shows it: the word divided by 100 as a float.
    static std::string Volts(std::uint16_t word) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(word / 100.0f));
        return text;
    }
};

TEST_F(BenchHostEndToEndTest, EveryRoundIsDecodedShownAndStoredAsSent) {
    ASSERT_EQ(RunHost({"--rounds", "4", "--interval", "0.05"}), 0) << err;
    EXPECT_EQ(err, "");
    const RunSummary summary = Ending();
    EXPECT_EQ(summary.rounds, 4u);
    EXPECT_EQ(summary.completed, 4u);
    EXPECT_EQ(summary.lost, 0u);

    const std::vector<MeterRecord> records = StoredRecords();
    ASSERT_EQ(records.size(), 4u);
    const auto rows = TableRows();
    for (std::uint32_t round = 1; round <= 4; ++round) {
        EXPECT_TRUE(Carries(records[round - 1], round)) << "round " << round;
        const SimulatedReadings::Words sent = SimulatedReadings::WordsOf(round);
        const RoundRow& row = rows.at(std::to_string(round));
        ASSERT_EQ(row.values.size(), 8u);
        EXPECT_EQ(row.station, 1) << "the station";
        EXPECT_EQ(row.values[0], Volts(sent[4])) << "Ua of round " << round;
        EXPECT_EQ(row.values[3], Volts(sent[1])) << "Uab of round " << round;
        EXPECT_EQ(row.values[7], std::to_string(sent[9]) + ".00") << "Ic of round " << round;
        EXPECT_EQ(row.done, round) << "completed counter";
    }

    // The decoded history agrees with what the meter's value queries gave.
    ASSERT_EQ(RunHost({"--csv"}), 0) << err;
    std::vector<std::string> csv;
    boost::split(csv, out, [](char c) { return c == '\n'; });
    ASSERT_EQ(csv.size(), 6u);  // header, four rows, empty rest
    EXPECT_EQ(csv[0].rfind("row,data_id,stamp,stored_at_", 0), 0u);
    EXPECT_NE(csv[0].find(",Ua_V,Ub_V,Uc_V,Uab_V,Ubc_V,Uca_V,Ia_raw,Ic_raw"), std::string::npos);
    EXPECT_NE(csv[2].find("," + Volts(SimulatedReadings::WordsOf(2)[4]) + ","), std::string::npos);

    ASSERT_EQ(RunHost({"--dump"}), 0) << err;
    EXPECT_NE(out.find("data id 1201  stamp "), std::string::npos);
    EXPECT_NE(out.find("Ua " + Volts(SimulatedReadings::WordsOf(4)[4]) + " "), std::string::npos);
}

TEST_F(BenchHostEndToEndTest, EachFaultCostsAtMostTheRoundItHits) {
    const std::set<std::uint32_t> faulty = {2, 4, 6, 8, 10, 12, 14};
    ASSERT_EQ(RunHost({"--rounds", "15", "--interval", "0.45", "--timeout", "200", "--sim-late",
                       "350", "--sim-fault", "silent@2", "--sim-fault", "short@4", "--sim-fault",
                       "extra@6", "--sim-fault", "noise@8", "--sim-fault", "late@10",
                       "--sim-fault", "station@12", "--sim-fault", "corrupt@14"}),
              0)
        << err;

    const RunSummary summary = Ending();
    EXPECT_EQ(summary.rounds, 15u);
    EXPECT_LE(summary.lost, 7u);
    EXPECT_GE(summary.lost, 4u) << "no answer, a short, a late and a corrupt one are always lost";

    // Every round the faults did not hit decodes what the meter sent, in order.
    const std::vector<MeterRecord> records = StoredRecords();
    EXPECT_EQ(records.size(), summary.completed);
    std::size_t next = 0;
    for (std::uint32_t round = 1; round <= 15; ++round) {
        if (faulty.count(round) != 0)
            continue;
        while (next < records.size() && !Carries(records[next], round))
            ++next;
        EXPECT_LT(next, records.size()) << "round " << round << " was not stored as sent";
    }
    const auto rows = TableRows();
    EXPECT_EQ(rows.at("2").note.rfind("lost: no ", 0), 0u) << "the silent round";
    EXPECT_NE(out.find("lost: the answer's checksum does not match its bytes"), std::string::npos);
    EXPECT_EQ(rows.at("15").lost, summary.lost);
}

TEST_F(BenchHostEndToEndTest, RestartReloadsTheNewestStoredRecord) {
    ASSERT_EQ(RunHost({"--rounds", "3", "--interval", "0.05"}), 0) << err;
    ASSERT_EQ(RunHost({"--rounds", "2", "--interval", "0.05"}), 0) << err;

    const auto rows = TableRows();
    ASSERT_EQ(rows.count("cache"), 1u) << out;
    EXPECT_EQ(rows.at("cache").values.at(0), Volts(SimulatedReadings::WordsOf(3)[4]));
    EXPECT_NE(out.find("newest record from history, stored "), std::string::npos);
    EXPECT_LT(out.find("cache "), out.find("    1  ")) << "the reload comes before the first poll";

    // The reload completes a round of its own, stored like any other.
    const std::vector<MeterRecord> records = StoredRecords();
    ASSERT_EQ(records.size(), 3u + 1u + 2u);
    EXPECT_TRUE(Carries(records[3], 3));
    EXPECT_TRUE(Carries(records[4], 1));
}

TEST_F(BenchHostEndToEndTest, InterruptLeavesAConsistentHistory) {
    ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    3  ", std::chrono::seconds(10))) << host.Stdout();
    host.Signal(SIGINT);
    EXPECT_EQ(host.Wait(), 0) << host.Stderr();
    out = host.Stdout();

    const RunSummary summary = Ending();
    EXPECT_EQ(summary.ending, "stopped") << out;
    EXPECT_GE(summary.rounds, 3u);
    EXPECT_EQ(summary.completed + summary.lost, summary.rounds) << "a cut exchange is no round";

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(History().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
    EXPECT_EQ(StoredRecords().size(), summary.completed);
}

// A late answer's cost for one timing: the rounds it must cost and the
// rounds it may cost (a subset and a superset of the lost ones).
struct LateAnswerCase {
    const char* name;
    double interval;
    int timeout_ms;
    int late_ms;
    int late_limit_ms;  // 0: the default, 4 timeouts
    std::vector<std::string> faults;
    std::uint32_t rounds;
    std::set<std::uint32_t> must_lose;
    std::set<std::uint32_t> may_lose;
};

std::ostream& operator<<(std::ostream& out, const LateAnswerCase& late) {
    return out << late.name;
}

class LateAnswerTest : public BenchHostEndToEndTest,
                       public ::testing::WithParamInterface<LateAnswerCase> {};

// With a 150 ms timeout a round's exchange ends lost 158 ms after its
// request; a request without any answer keeps the line quiet until the late
// limit (600 ms by default) has passed since it, so any answer that comes
// by then is dropped. Past the late limit the answer lands in the next
// exchange, where the answer queued behind it drops it; one that comes
// after the next exchange has ended unanswered too lands in the one after.
TEST_P(LateAnswerTest, NoRecordHoldsAnotherRequestsAnswer) {
    const LateAnswerCase& late = GetParam();
    std::vector<std::string> args = {"--interval", std::to_string(late.interval), "--timeout",
                                     std::to_string(late.timeout_ms), "--sim-late",
                                     std::to_string(late.late_ms)};
    if (late.late_limit_ms != 0)
        args.insert(args.end(), {"--late-limit", std::to_string(late.late_limit_ms)});
    const auto within = [](const std::set<std::uint32_t>& inner,
                           const std::set<std::uint32_t>& outer) {
        return std::includes(outer.begin(), outer.end(), inner.begin(), inner.end());
    };
    const std::set<std::uint32_t> lost =
        RunUntilCostHolds(args, late.faults, late.rounds, [&](const std::set<std::uint32_t>& lost_rounds) {
            return within(late.must_lose, lost_rounds) && within(lost_rounds, late.may_lose);
        });
    for (std::uint32_t round : late.must_lose)
        EXPECT_EQ(lost.count(round), 1u) << "round " << round << " cannot complete\n" << out;
    for (std::uint32_t round : lost)
        EXPECT_EQ(late.may_lose.count(round), 1u) << "round " << round << " lost\n" << out;
}

INSTANTIATE_TEST_SUITE_P(
    Timings, LateAnswerTest,
    ::testing::Values(
        LateAnswerCase{"LaterThanTimeoutWithinInterval", 0.4, 150, 250, 0, {"late@3"}, 5, {3}, {3}},
        LateAnswerCase{"LaterThanIntervalArrivesWhileLineWaits", 0.05, 150, 250, 0, {"late@3"}, 6,
                       {3}, {3}},
        LateAnswerCase{"LaterThanTimeoutPlusInterval", 0.3, 150, 500, 0, {"late@3"}, 6, {3}, {3}},
        LateAnswerCase{"JustInsideTheLateLimit", 0.05, 150, 520, 0, {"late@3"}, 6, {3}, {3}},
        LateAnswerCase{"PastTheLateLimitLandsInTheNextExchange", 0.05, 150, 380, 200, {"late@3"},
                       6, {3, 4}, {3, 4}},
        LateAnswerCase{"PastTwoExchangesCostsOneMore", 0.05, 150, 800, 200, {"late@3"}, 7,
                       {3, 4, 5}, {3, 4, 5}},
        LateAnswerCase{"RepeatedLateAnswers", 0.05, 150, 380, 0, {"late@3,7,11"}, 13, {3, 7, 11},
                       {3, 7, 11}},
        LateAnswerCase{"TwoInARow", 0.05, 150, 250, 0, {"late@3,4"}, 6, {3, 4}, {3, 4}},
        // The next request gets no answer of its own: only the quiet line
        // keeps the late answer from passing for its reading.
        LateAnswerCase{"ThenTheNextRequestUnanswered", 0.05, 150, 380, 0,
                       {"late@3,7", "silent@4", "late@8"}, 10, {3, 4, 7, 8}, {3, 4, 7, 8}},
        LateAnswerCase{"FollowedByEveryOtherFault", 0.05, 150, 380, 0,
                       {"late@3,7,11,15,19", "short@4", "noise@8", "extra@12", "station@16",
                        "corrupt@20"},
                       22, {3, 4, 7, 8, 11, 12, 15, 16, 19, 20}, {3, 4, 7, 8, 11, 12, 15, 16, 19, 20}},
        LateAnswerCase{"BetweenOtherFaults", 0.05, 150, 250, 0,
                       {"silent@3,9", "late@4,8,12", "short@13"}, 15, {3, 4, 8, 9, 12, 13},
                       {3, 4, 8, 9, 12, 13}},
        // Spare bytes keep coming after each decoded answer while the next
        // round is already due: polling into them would shift the next
        // answer.
        LateAnswerCase{"SpareBytesRightBeforeThePoll", 0.0, 150, 250, 0, {"extra@2,4,6,8"}, 10, {},
                       {2, 4, 6, 8}}),
    [](const ::testing::TestParamInfo<LateAnswerCase>& info) { return info.param.name; });

// 300 rounds at full pace, a fault every few rounds, every kind in turn.
TEST_F(BenchHostEndToEndTest, LongRunWithEveryFaultStoresOnlyOwnAnswers) {
    const char* kinds[] = {"silent", "short", "extra", "noise", "late", "station", "corrupt"};
    std::vector<std::string> faults;
    for (std::uint32_t round = 8, kind = 0; round <= 295; round += 16, kind = (kind + 1) % 7)
        faults.push_back(std::string(kinds[kind]) + "@" + std::to_string(round));
    FaultPlan plan;
    for (const std::string& fault : faults)
        plan.Add(fault);
    const auto explained = [&plan](std::uint32_t round) {
        const MeterFault fault = plan.At(round);
        // Noise and another station's answer never reach the meter.
        return fault == MeterFault::kSilent || fault == MeterFault::kShort ||
               fault == MeterFault::kExtra || fault == MeterFault::kLate ||
               fault == MeterFault::kNoise || fault == MeterFault::kWrongStation ||
               fault == MeterFault::kCorrupt || plan.At(round - 1) == MeterFault::kLate;
    };
    const std::set<std::uint32_t> lost = RunUntilCostHolds(
        {"--interval", "0", "--timeout", "200", "--sim-late", "400"}, faults, 300,
        [&explained](const std::set<std::uint32_t>& lost_rounds) {
            return std::all_of(lost_rounds.begin(), lost_rounds.end(), explained);
        });
    for (std::uint32_t round : lost)
        EXPECT_TRUE(explained(round)) << "round " << round << " lost to nothing that could cost it";
}

// The answer timeout counts from the end of the request's transmission
// (8 characters, 8.3 ms at 9600 baud), and so does a late answer's delay.
// A 300 ms timeout and a 235 ms late answer (58 bytes, 60.4 ms) complete
// 4.6 ms inside it; 270 ms is 30.4 ms past it.
TEST_F(BenchHostEndToEndTest, AnAnswerCompletingJustInsideTheTimeoutCounts) {
    const std::vector<std::string> args = {"--rounds", "3", "--interval", "0.05", "--timeout",
                                           "300", "--sim-fault", "late@2", "--sim-late", "235"};
    // A slow moment of the machine can push the answer out; it can never
    // bring it in early, so one of three tries completing settles it.
    const bool completed = UntilTheLoadAllows([&] {
        EXPECT_EQ(RunHost(args), 0) << err;
        const std::optional<RunSummary> summary = ReadSummary(out);
        return summary && summary->lost == 0;
    });
    EXPECT_TRUE(completed) << out;
    EXPECT_TRUE(Carries(StoredRecords().at(1), 2));

    std::filesystem::remove(History());
    ASSERT_EQ(RunHost({"--rounds", "3", "--interval", "0.05", "--timeout", "300", "--sim-fault",
                       "late@2", "--sim-late", "270"}),
              0)
        << err;
    const RunSummary summary = Ending();
    EXPECT_EQ(summary.lost, 1u) << out;
    EXPECT_EQ(summary.completed, 2u) << "the rest of the late answer is dropped, not decoded";
    EXPECT_TRUE(TextPattern::Within("lost: # bytes, no complete answer within 300 ms", out))
        << out;
}

// Every stop signal ends the run at once, also in the middle of a 30 s
// wait for an answer; that exchange stores nothing, and the statistics,
// printed after the summary and written to their file, count it as stopped.
class StopSignalTest : public BenchHostEndToEndTest, public ::testing::WithParamInterface<int> {};

TEST_P(StopSignalTest, StopsDuringALongAnswerWaitWithSummary) {
    const std::string json = scratch.File("stats.json");
    ToolProcess host(BENCH_HOST,
                     WithHistory({"--interval", "0.05", "--timeout", "30000", "--sim-fault",
                                  "silent@2", "--stats-json", json}),
                     scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    1  ", std::chrono::seconds(10))) << host.Stdout();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // round 2 is waiting
    host.Signal(GetParam());
    const std::optional<int> status = host.WaitFor(std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value()) << "still waiting for the answer";
    EXPECT_EQ(*status, 0) << host.Stderr();
    out = host.Stdout();
    EXPECT_NE(out.find("stopped: 1 round, 1 completed, 0 lost, round 2 cut short; 1 records "
                       "published, 1 stored"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("stopped: exchange cut short, nothing stored"), std::string::npos);
    EXPECT_EQ(StoredRecords().size(), 1u);

    const std::size_t summary = out.find("stopped: 1 round, 1 completed, 0 lost");
    ASSERT_NE(summary, std::string::npos) << out;
    EXPECT_GT(out.find("\nstatistics over "), summary) << out;
    const StatisticsCells table = ReadStatisticsTable(out);
    const auto line_cell = [&table](const std::string& label) {
        return table.count(label) != 0 ? table.at(label).back() : "";
    };
    EXPECT_EQ(line_cell("requests sent"), "2") << out;
    EXPECT_EQ(line_cell("rounds completed"), "1");
    EXPECT_EQ(line_cell("rounds lost"), "0");
    EXPECT_EQ(line_cell("exchanges stopped"), "1");
    EXPECT_EQ(ReadJsonFile(json)["line"]["exchanges_stopped"].asUInt(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGINT    ? "Interrupt"
                                    : info.param == SIGTERM ? "Terminate"
                                                            : "Hangup";
                         });

// A stop while the bench host is still setting up (here: waiting for its
// settings from a pipe no one writes to) ends it at once, with its summary,
// instead of the process waiting on, or dying without one.
TEST_F(BenchHostEndToEndTest, AStopDuringSetUpEndsWithTheSummary) {
    const std::string pipe = scratch.File("settings.json");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ToolProcess host(BENCH_HOST, WithHistory({"--settings", pipe, "--interval", "0.05"}),
                     scratch.Path());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // it waits on the pipe
    host.Signal(SIGTERM);
    const std::optional<int> status = host.WaitFor(std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value()) << "still waiting after the stop";
    EXPECT_EQ(*status, 0) << host.Stderr();
    EXPECT_EQ(host.Stdout(), "stopped: while reading settings file " + pipe +
                                 ", before the first round; nothing polled, nothing stored\n");
    EXPECT_FALSE(std::filesystem::exists(History()));
}

// Every stop below ends its run within this long of the signal.
constexpr auto kStopWithin = std::chrono::milliseconds(500);

// Signals the host and waits for its end: its exit status, or nothing when
// it has not ended within kStopWithin.
std::optional<int> StopAndWait(ToolProcess& host, int signal) {
    host.Signal(signal);
    return host.WaitFor(kStopWithin);
}

// The summary of a run that a stop ended while polling, with no round
// lost: rounds begun, and how many records the history did not take.
std::optional<RunSummary> StoppedSummaryIn(const std::string& text) {
    const std::optional<RunSummary> summary = ReadSummary(text);
    if (!summary || summary->ending != "stopped" || summary->lost != 0)
        return std::nullopt;
    return summary;
}

// The pipe a settings file may be read from: a stop while no one writes
// to it ends the bench host at once.
TEST_P(StopSignalTest, StopsWhileSettingsWaitForAWriterOfTheirPipe) {
    const std::string pipe = scratch.File("settings.json");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    ToolProcess host(BENCH_HOST, WithHistory({"--settings", pipe}), scratch.Path());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::optional<int> status = StopAndWait(host, GetParam());
    ASSERT_TRUE(status.has_value()) << "still waiting on the pipe";
    EXPECT_EQ(*status, 0) << host.Stderr();
    EXPECT_NE(host.Stdout().find("stopped: while reading settings file "), std::string::npos)
        << host.Stdout();
}

// Another program holds the history locked (as an open sqlite3 shell in a
// write transaction does): the rounds go on while their records wait for it
// in the history's writer, and a stop ends that wait and the run at once,
// the records that waited counted as not stored.
TEST_P(StopSignalTest, StopsWhileAnotherProgramHoldsTheHistoryLocked) {
    ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    2  ", std::chrono::seconds(10))) << host.Stdout();
    HeldWriteLock lock(History());
    ASSERT_TRUE(lock.Held());
    ASSERT_TRUE(host.WaitForOutput("    6  ", std::chrono::seconds(10)))
        << "the rounds wait for the lock: " << host.Stdout();
    const std::optional<int> status = StopAndWait(host, GetParam());
    ASSERT_TRUE(status.has_value()) << "still waiting for the lock";
    EXPECT_EQ(*status, 0) << host.Stderr();
    const std::optional<RunSummary> summary = StoppedSummaryIn(host.Stdout());
    ASSERT_TRUE(summary.has_value()) << host.Stdout();
    EXPECT_GE(summary->not_stored, 1u) << host.Stdout();
    EXPECT_EQ(summary->stored + summary->not_stored, summary->completed) << host.Stdout();
    lock.Release();
    EXPECT_EQ(StoredRecords().size(), summary->stored);
}

// From the moment the bench host holds its stop signals (the first line of
// main: before that no program can), a stop at any stage of setting up
// ends it with its summary, never by the signal's default action.
TEST_P(StopSignalTest, StopsInTheFirstMomentsWithTheSummary) {
    for (const int delay_us : {0, 100, 300, 1000, 3000, 10000, 30000, 100000}) {
        std::filesystem::remove(History());
        ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path());
        ASSERT_TRUE(host.WaitUntilHolding(GetParam(), std::chrono::seconds(10)));
        std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
        host.Signal(GetParam());
        const std::optional<int> status = host.WaitFor(std::chrono::seconds(5));
        ASSERT_TRUE(status.has_value()) << delay_us << " us: still running";
        EXPECT_EQ(*status, 0) << delay_us << " us: " << host.Stderr();
        EXPECT_TRUE(TextPattern::Line("stopped: *", host.Stdout()))
            << delay_us << " us:\n" << host.Stdout();
    }
}

// A second stop right after the first, while the run writes its summary
// and statistics, must not end it by the default action half way.
TEST_P(StopSignalTest, ASecondStopWhileTheRunFinishesIsHarmless) {
    const int second = GetParam() == SIGTERM ? SIGINT : SIGTERM;
    for (const int gap_us : {0, 200, 1000, 3000, 10000}) {
        std::filesystem::remove(History());
        ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path());
        ASSERT_TRUE(host.WaitForOutput("    2  ", std::chrono::seconds(10))) << host.Stdout();
        host.Signal(GetParam());
        std::this_thread::sleep_for(std::chrono::microseconds(gap_us));
        const std::optional<int> status = StopAndWait(host, second);
        ASSERT_TRUE(status.has_value()) << gap_us << " us: still running";
        EXPECT_EQ(*status, 0) << gap_us << " us: " << host.Stderr();
        const std::string text = host.Stdout();
        EXPECT_TRUE(StoppedSummaryIn(text).has_value()) << gap_us << " us:\n" << text;
        EXPECT_NE(text.find("\nline use %"), std::string::npos) << "the statistics, to the end";
    }
}

// `bench_host | head -5`: the reader of its output goes away, and the run
// stops as for a stop signal, its summary on standard error, the history
// whole.
TEST_F(BenchHostEndToEndTest, AClosedStandardOutputStopsTheRunWithItsSummaryOnStandardError) {
    ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path(),
                     ToolProcess::Output::kPipe);
    const std::string head = host.ReadLines(6, std::chrono::seconds(10));
    ASSERT_NE(head.find("\n    2  "), std::string::npos) << head;
    host.CloseOutputPipe();
    const std::optional<int> status = host.WaitFor(kStopWithin + std::chrono::milliseconds(100));
    ASSERT_TRUE(status.has_value()) << "still polling into a closed pipe";
    EXPECT_EQ(*status, 0) << "not ended by SIGPIPE: " << host.Stderr();
    const std::string err = host.Stderr();
    EXPECT_EQ(err.rfind("bench_host: standard output cannot be written (closed?): stopping\n", 0),
              0u)
        << err;
    const std::optional<RunSummary> summary = StoppedSummaryIn(err);
    ASSERT_TRUE(summary.has_value()) << err;
    EXPECT_NE(err.find("\nrounds completed "), std::string::npos) << "the statistics too";
    EXPECT_GE(summary->completed, 2u);
    EXPECT_EQ(StoredRecords().size(), summary->stored);
    EXPECT_EQ(summary->stored, summary->completed);
}

// A history that stays locked past the bound of the wait ends the run as a
// failure, as before, and the summary names the records it could not keep:
// every one since the lock, as the rounds went on meanwhile.
TEST_F(BenchHostEndToEndTest, AHistoryLockedPastTheWaitFailsNamingTheRecordsNotStored) {
    ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    2  ", std::chrono::seconds(10))) << host.Stdout();
    HeldWriteLock lock(History());
    ASSERT_TRUE(lock.Held());
    const std::optional<int> status = host.WaitFor(std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 6) << host.Stderr();
    EXPECT_NE(host.Stderr().find(": another program kept it locked for "), std::string::npos)
        << host.Stderr();
    const std::optional<RunSummary> summary = ReadSummary(host.Stdout());
    ASSERT_TRUE(summary.has_value()) << host.Stdout();
    EXPECT_EQ(summary->ending, "failed") << host.Stdout();
    EXPECT_EQ(summary->stored + summary->not_stored, summary->published) << host.Stdout();
    EXPECT_GT(summary->not_stored, 10u) << "the rounds went on while the writer waited";
    lock.Release();
    EXPECT_EQ(StoredRecords().size(), summary->stored);
}

struct RunEnding {
    const char* name;
    std::vector<std::string> args;
    bool stop;  // stopped once its last round is lost, not run to its end
    int status;
};

// A run that completed no exchange read nothing from the line: it has an
// exit status of its own, done or stopped; one completed exchange is enough.
TEST_F(BenchHostEndToEndTest, ARunThatLostEveryExchangeHasItsOwnExitStatus) {
    const std::vector<std::string> fast = {"--interval", "0", "--timeout", "150"};
    const std::vector<RunEnding> runs = {
        {"every round lost",
         {"--late-limit", "150", "--rounds", "3", "--sim-fault", "silent@1,2,3"}, false, 9},
        {"one round of three completed",
         {"--late-limit", "150", "--rounds", "3", "--sim-fault", "silent@1,3"}, false, 0},
        {"stopped after a lost round", {"--late-limit", "60000", "--sim-fault", "silent@1"}, true,
         9},
    };
    for (const RunEnding& run : runs) {
        std::filesystem::remove(History());
        std::vector<std::string> args = fast;
        args.insert(args.end(), run.args.begin(), run.args.end());
        ToolProcess host(BENCH_HOST, WithHistory(args), scratch.Path());
        if (run.stop) {
            ASSERT_TRUE(host.WaitForOutput("lost: no answer", std::chrono::seconds(10)))
                << run.name;
            host.Signal(SIGINT);
        }
        const std::optional<int> status = host.WaitFor(std::chrono::seconds(10));
        ASSERT_TRUE(status.has_value()) << run.name;
        EXPECT_EQ(*status, run.status) << run.name << ": " << host.Stderr();
        if (run.status == 9)
            EXPECT_TRUE(TextPattern::Whole("bench_host: no exchange completed: all # were lost\n",
                                           host.Stderr()))
                << run.name << ": " << host.Stderr();
        else
            EXPECT_EQ(host.Stderr(), "") << run.name;
    }
}

TEST_F(BenchHostEndToEndTest, ALineThatDisappearsSaysSoAndEndsWithTheSummary) {
    auto meter = std::make_unique<SimulatedMeter>(SimulatedMeterOptions{});
    meter->Start();
    const std::string port = meter->PortPath();
    ToolProcess host(BENCH_HOST, WithHistory({"--port", port, "--interval", "0.05", "--unplug", "end"}),
                     scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    2  ", std::chrono::seconds(10))) << host.Stdout();
    meter.reset();  // the far end of the line goes away

    const std::optional<int> status = host.WaitFor(std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 5);
    EXPECT_EQ(host.Stderr(), "bench_host: serial port " + port + " closed: device unplugged?\n");
    out = host.Stdout();
    const RunSummary summary = Ending();
    EXPECT_EQ(summary.ending, "failed") << out;
    EXPECT_GE(summary.completed, 2u);
    EXPECT_EQ(StoredRecords().size(), summary.completed);
}

TEST_F(BenchHostEndToEndTest, WaitsAreBoundedByAMinute) {
    ASSERT_EQ(RunHost({"--rounds", "1", "--timeout", "60000", "--sim-late", "60000"}), 0) << err;
    EXPECT_NE(out.find("answer timeout 60000 ms, late limit 60000 ms"), std::string::npos)
        << "four timeouts, but no wait beyond a minute\n" << out;
    EXPECT_EQ(RunHost({"--timeout", "60001"}), 2);
    EXPECT_NE(err.find("--timeout must be from 1 to 60000 ms"), std::string::npos) << err;
    EXPECT_EQ(RunHost({"--sim-late", "60001"}), 2);
    EXPECT_NE(err.find("--sim-late must be from 0 to 60000 ms"), std::string::npos) << err;
    EXPECT_EQ(RunHost({"--late-limit", "0"}), 2);
    EXPECT_NE(err.find("--late-limit must be from 1 to 60000 ms"), std::string::npos) << err;
}

TEST_F(BenchHostEndToEndTest, UnusableHistoryFilesAreRefused) {
    std::ofstream(scratch.File("notes.txt")) << "not a database, and it stays as it is\n";
    EXPECT_EQ(RunHost({"--rounds", "1", "--history", scratch.File("notes.txt")}), 6);
    EXPECT_NE(err.find("notes.txt: file is not a database"), std::string::npos) << err;
    EXPECT_EQ(RunHost({"--rounds", "1", "--history", scratch.File("no/such/dir.sqlite")}), 6);
    EXPECT_NE(err.find("directory " + scratch.File("no/such") + " does not exist"), std::string::npos)
        << err;
    EXPECT_EQ(RunHost({"--dump", "--history", scratch.File("never-written.sqlite")}), 6);
    EXPECT_FALSE(std::filesystem::exists(scratch.File("never-written.sqlite")));

    std::ifstream notes(scratch.File("notes.txt"));
    std::string first;
    std::getline(notes, first);
    EXPECT_EQ(first, "not a database, and it stays as it is");
}

// The stand-alone simulated meter, as the README runs it: a real line for
// the bench host through its link, a fault of its own, gone at SIGTERM. Its
// output, in a folder of its own, stays its own while the bench host runs.
TEST_F(BenchHostEndToEndTest, TheStandAloneSimulatedMeterServesTheBenchHost) {
    const std::string link = scratch.File("meter");
    const std::string folder = scratch.File("meter-output");
    std::filesystem::create_directories(folder);
    const std::string serving = "simulated meter: station 1, 9600 baud, on /dev/pts/";
    ToolProcess meter(SIMULATED_METER, {"--link", link, "--fault", "corrupt@2"}, folder);
    ASSERT_TRUE(meter.WaitForOutput(serving, std::chrono::seconds(10))) << meter.Stderr();
    ASSERT_EQ(RunHost({"--port", link, "--rounds", "3", "--interval", "0.05"}), 0) << err;
    const RunSummary summary = Ending();
    EXPECT_EQ(summary.completed, 2u) << out;
    EXPECT_EQ(summary.lost, 1u) << "the corrupt answer";
    EXPECT_NE(meter.Stdout().find(serving), std::string::npos) << meter.Stdout();
    EXPECT_EQ(out.find(serving), std::string::npos) << out;
    meter.Signal(SIGTERM);
    EXPECT_EQ(meter.WaitFor(std::chrono::seconds(10)), std::optional<int>(0));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    ToolProcess stray(SIMULATED_METER, {"5"}, folder);
    EXPECT_EQ(stray.WaitFor(std::chrono::seconds(10)), std::optional<int>(2));
    EXPECT_EQ(stray.Stderr(), "simulated_meter: unexpected word '5' on the command line (options "
                              "start with --) (see --help)\n");
}

TEST_F(BenchHostEndToEndTest, APortHeldByAnotherProgramIsBusy) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    boost::asio::io_context io;
    SerialLine holder(io);
    holder.Open(meter.PortPath(), LineSettings{});

    EXPECT_EQ(RunHost({"--port", meter.PortPath(), "--rounds", "1"}), 5);
    EXPECT_NE(err.find("busy, another program holds it"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(History()));
}

}  // namespace

namespace {

// The simulated meter on its own, at `link`, once it serves; its output in
// a folder of its own, apart from the bench host's.
std::unique_ptr<ToolProcess> MeterAt(const std::string& link, const ScratchDirectory& scratch) {
    const std::string folder = scratch.File("meter-output");
    std::filesystem::create_directories(folder);
    auto meter = std::make_unique<ToolProcess>(SIMULATED_METER, std::vector<std::string>{"--link", link},
                                               folder);
    EXPECT_TRUE(meter->WaitForOutput("simulated meter: ", std::chrono::seconds(10))) << meter->Stderr();
    return meter;
}

}  // namespace

// A run without --rounds keeps logging through an unplug: the line's far end
// goes (the meter's pseudo-terminal closes, its link removed) and comes back
// under the same name; the outage is said with its times, the exchanges
// while it lasts are lost as such, and polling goes on into the same history.
TEST_F(BenchHostEndToEndTest, ARunWithoutRoundsWaitsForAnUnpluggedLineAndGoesOn) {
    const std::string link = scratch.File("meter");
    const std::string json = scratch.File("stats.json");
    std::unique_ptr<ToolProcess> meter = MeterAt(link, scratch);
    ToolProcess host(BENCH_HOST,
                     WithHistory({"--port", link, "--interval", "0.1", "--stats-json", json}),
                     scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    3  ", std::chrono::seconds(10))) << host.Stdout();

    meter->Signal(SIGTERM);
    ASSERT_EQ(meter->WaitFor(std::chrono::seconds(10)), std::optional<int>(0));
    ASSERT_TRUE(host.WaitForOutput("; waiting for it to come back\n", std::chrono::seconds(10)))
        << host.Stdout() << host.Stderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // exchanges while it is gone
    meter = MeterAt(link, scratch);
    ASSERT_TRUE(host.WaitForOutput("line back at ", std::chrono::seconds(10))) << host.Stdout();
    const std::size_t back = host.Stdout().find("line back at ");
    // Polling again: a completed round after the line came back.
    ASSERT_TRUE(host.WaitFor(std::chrono::milliseconds(2000)) == std::nullopt) << host.Stderr();
    host.Signal(SIGINT);
    ASSERT_EQ(host.WaitFor(std::chrono::seconds(10)), std::optional<int>(0)) << host.Stderr();
    const std::string out = host.Stdout();
    EXPECT_NE(out.find("lost: the line is gone since "), std::string::npos) << out;
    // Polling again: a round's row after it with no loss or stop noted.
    bool completed_after = false;
    for (const RoundRow& row : ReadPollRows(out.substr(back)))
        completed_after = completed_after || (row.note.find("lost:") == std::string::npos &&
                                              row.note.find("stopped:") == std::string::npos);
    EXPECT_TRUE(completed_after) << "no round completed after it\n" << out;
    const Json::Value stats = ReadJsonFile(json);
    EXPECT_EQ(stats["outages"]["count"].asUInt(), 1u);
    EXPECT_GE(stats["outages"]["seconds"].asDouble(), 1.0);
    EXPECT_GE(stats["line"]["lost_by_reason"]["line_gone"].asUInt(), 1u);
    EXPECT_NE(out.find("line gone 1 time, "), std::string::npos) << out;
    meter->Signal(SIGTERM);
}
