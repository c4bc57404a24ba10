// Several meters on one simulated line, polled through the real qvt7702.so:
// every stored and published record is the own answer of its own meter.
#include "BenchHostTest.h"
#include "RunOutput.h"
#include "JsonFile.h"
#include "RecordCheck.h"
#include "TextPattern.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

// Station s polled with data id 1200 + s.
constexpr std::uint32_t kDataIdBase = 1200;

class BenchHostLineTest : public BenchHostTest {
protected:
    // A settings file for a meter at `station`, data id 1200 + station
    // unless given.
    std::string Meter(int station, long long data_id = -1) {
        const std::string path =
            scratch.File("meter-" + std::to_string(station) + "-" + std::to_string(files_++) + ".json");
        std::ofstream(path) << "{ \"dataId\": "
                            << (data_id < 0 ? kDataIdBase + station : data_id)
                            << ", \"stationAddress\": " << station << " }\n";
        return path;
    }

    std::vector<std::string> Line(std::initializer_list<int> stations) {
        std::vector<std::string> args;
        for (int station : stations)
            args.insert(args.end(), {"--settings", Meter(station)});
        return args;
    }

    std::vector<RoundRow> Rows() const { return ReadPollRows(out); }

    // A lost round's row shows the values of its meter's last completed
    // round, or none: never those of an answer that was decoded and dropped.
    void ExpectLostRowsShowNoDroppedAnswer() const {
        std::map<int, std::vector<std::string>> last_completed;
        for (const RoundRow& row : Rows()) {
            if (row.note.empty()) {
                last_completed[row.station] = row.values;
                continue;
            }
            if (std::all_of(row.values.begin(), row.values.end(),
                            [](const std::string& cell) { return cell == "-"; }))
                continue;
            EXPECT_EQ(row.values, last_completed[row.station])
                << "round " << row.round << " of station " << row.station << ":\n" << out;
        }
    }

    // Checks that every stored record is, in order, the answer the
    // simulated line sent for a completed exchange of the meter its data id
    // belongs to (station s's request r: its answer number r), and that
    // each completed exchange stored exactly one. Returns the lost
    // exchanges as (round, station).
    std::set<std::pair<std::uint32_t, int>> CheckOwnRecords() {
        std::map<std::uint32_t, std::vector<std::uint32_t>> completed;  // by data id: rounds
        std::set<std::pair<std::uint32_t, int>> lost;
        for (const RoundRow& row : Rows()) {
            if (row.note.empty())
                completed[kDataIdBase + row.station].push_back(row.round);
            else
                lost.insert({row.round, row.station});
        }
        std::map<std::uint32_t, std::vector<MeterRecord>> stored;
        for (const MeterRecord& record : StoredRecords())
            stored[record.DataId()].push_back(record);
        for (const auto& [data_id, rounds] : completed) {
            const std::vector<MeterRecord>& records = stored[data_id];
            EXPECT_EQ(records.size(), rounds.size()) << "data id " << data_id << "\n" << out;
            for (std::size_t i = 0; i < std::min(records.size(), rounds.size()); ++i)
                EXPECT_TRUE(CarriesAnswer(records[i], static_cast<std::uint8_t>(data_id - kDataIdBase),
                                          rounds[i]))
                    << "data id " << data_id << " round " << rounds[i] << " holds another answer\n"
                    << out;
        }
        for (const auto& [data_id, records] : stored)
            EXPECT_EQ(completed.count(data_id), 1u) << "records of data id " << data_id;
        return lost;
    }

    // "done: 4 rounds of 3 meters, 11 completed, 1 lost; 11 records published, 11 stored"
    void ExpectSummary(int rounds, int meters, int completed, int lost) const {
        std::ostringstream expected;
        expected << "done: " << rounds << " rounds of " << meters << " meters, " << completed
                 << " completed, " << lost << " lost; " << completed << " records published, "
                 << completed << " stored";
        EXPECT_NE(out.find(expected.str()), std::string::npos) << out;
    }

    int files_ = 0;
};

using Lost = std::set<std::pair<std::uint32_t, int>>;

TEST_F(BenchHostLineTest, ThreeMetersInTurnEachStoreOnlyTheirOwnReadings) {
    std::vector<std::string> args = Line({4, 1, 9});
    args.insert(args.end(), {"--rounds", "3", "--interval", "0.05"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(CheckOwnRecords(), Lost{});
    ExpectSummary(3, 3, 9, 0);

    std::vector<int> order;
    for (const RoundRow& row : Rows())
        order.push_back(row.station);
    EXPECT_EQ(order, (std::vector<int>{4, 1, 9, 4, 1, 9, 4, 1, 9})) << "polled in turn";

    // The history tools show one meter when asked.
    ASSERT_EQ(RunHost({"--csv", "--data-id", "1209"}), 0) << err;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4) << out;
    EXPECT_EQ(out.find(",1204,"), std::string::npos) << out;
    EXPECT_EQ(out.find(",1201,"), std::string::npos) << out;
    ASSERT_EQ(RunHost({"--dump", "--data-id", "1201"}), 0) << err;
    EXPECT_EQ(out.find("data id 1204"), std::string::npos) << out;
    EXPECT_NE(out.find("data id 1201"), std::string::npos) << out;
    ASSERT_EQ(RunHost({"--dump", "--data-id", "77"}), 0) << err;
    EXPECT_EQ(out, History() + " holds no records of data id 77\n");
}

// Station 1's request goes unanswered: the line stays quiet until the late
// limit, so its late answer costs only its own exchange. Past the late
// limit it lands in station 2's exchange, which must not take it: both
// exchanges are lost, nothing else, and nothing is published or stored
// under station 2's data id that round.
TEST_F(BenchHostLineTest, ALateAnswerCostsItsExchangeAndPastTheLateLimitTheNext) {
    std::vector<std::string> args = Line({1, 2, 3});
    args.insert(args.end(), {"--rounds", "4", "--interval", "0.05", "--timeout", "150",
                             "--sim-late", "380", "--sim-fault", "late@1:2"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_EQ(CheckOwnRecords(), (Lost{{2, 1}}));
    ExpectSummary(4, 3, 11, 1);

    std::filesystem::remove(History());
    args.insert(args.end(), {"--late-limit", "200"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_EQ(CheckOwnRecords(), (Lost{{2, 1}, {2, 2}}));
    ExpectSummary(4, 3, 10, 2);
    // Station 2 answers at once; station 1's late answer follows it before
    // the line has been silent long enough, so station 2's is held back
    // and dropped.
    const std::size_t note = out.find("lost: 58 more bytes followed the answer");
    ASSERT_NE(note, std::string::npos) << out;
    // Its row shows no values: the meter decoded them, but they are no reading.
    const std::size_t row = out.rfind('\n', note) + 1;
    EXPECT_EQ(out.substr(row, note - row).find('.'), std::string::npos) << out.substr(row, note - row);
}

// Another station's answer and noise never reach the meter; faults named
// without a station hit the first meter's requests.
TEST_F(BenchHostLineTest, AnotherStationsAnswerAndNoiseAreLostNotStored) {
    std::vector<std::string> args = Line({5, 6});
    args.insert(args.end(), {"--rounds", "4", "--interval", "0.05", "--timeout", "150",
                             "--sim-fault", "station@6:2", "--sim-fault", "noise@3"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_EQ(CheckOwnRecords(), (Lost{{2, 6}, {3, 5}}));
    EXPECT_NE(out.find("lost: the answer starts with 07, not station 6's address"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("lost: the answer starts with FF, not station 5's address"),
              std::string::npos)
        << out;
}

// An adapter that echoes: checked and dropped with --echo; without it, the
// echo is taken for the start of the answer, which then fails its checksum.
TEST_F(BenchHostLineTest, AnEchoIsCheckedAndDroppedOrMisreadWithoutEcho) {
    const std::vector<std::string> line = Line({1, 2});
    std::vector<std::string> args = line;
    args.insert(args.end(), {"--rounds", "3", "--interval", "0.05", "--sim-echo", "--echo"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_EQ(CheckOwnRecords(), Lost{});
    ExpectSummary(3, 2, 6, 0);

    // A garbled echo is reported and costs its exchange.
    std::filesystem::remove(History());
    args = line;
    args.insert(args.end(), {"--rounds", "3", "--interval", "0.05", "--sim-echo", "--echo",
                             "--sim-fault", "echo@2:2"});
    ASSERT_EQ(RunHost(args), 0) << err;
    // Its last byte alone differs: the echo garbled on the line, not a frame
    // behind station 1's answer, whose record stands.
    EXPECT_EQ(CheckOwnRecords(), (Lost{{2, 2}}));
    const auto echo = TextPattern::Within(
        "lost: the echo 02 04 00 00 00 15 * does not match the request sent", out);
    ASSERT_TRUE(echo.has_value()) << out;
    EXPECT_EQ(echo->at(0).find_first_not_of("0123456789ABCDEF "), std::string::npos) << out;

    // Without --echo every answer is read 8 bytes early, the echo first:
    // its checksum fails, and nothing shifted is ever decoded or stored;
    // a run with nothing read ends with a status of its own.
    std::filesystem::remove(History());
    args = line;
    args.insert(args.end(), {"--rounds", "2", "--interval", "0.05", "--timeout", "150",
                             "--sim-echo"});
    ASSERT_EQ(RunHost(args), 9) << err;
    EXPECT_EQ(err, "bench_host: no exchange completed: all 4 were lost\n");
    const std::vector<RoundRow> rows = Rows();
    ASSERT_EQ(rows.size(), 4u) << out;
    for (const RoundRow& row : rows)
        EXPECT_EQ(row.note.rfind("lost: the answer's checksum does not match its bytes", 0), 0u)
            << out;
    EXPECT_TRUE(StoredRows().empty());
}

// The chosen framing sets the line's timing: 11 bits a character make the
// default answer timeout 550 ms, and the simulated line keeps pace.
TEST_F(BenchHostLineTest, SerialSettingsSetTheLineAndItsTiming) {
    std::vector<std::string> args = Line({1, 2});
    args.insert(args.end(), {"--rounds", "2", "--interval", "0.05", "--parity", "even",
                             "--baud", "19200"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_NE(out.find(" at 19200 baud 8E1; "), std::string::npos) << out;
    EXPECT_NE(out.find("answer timeout 275 ms"), std::string::npos) << out;
    EXPECT_EQ(CheckOwnRecords(), Lost{});

    args = Line({3});
    args.insert(args.end(), {"--rounds", "1", "--stop-bits", "2", "--parity", "odd"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_NE(out.find(" at 9600 baud 8O2; "), std::string::npos) << out;
    EXPECT_NE(out.find("answer timeout 600 ms"), std::string::npos) << out;
}

}  // namespace

// A late answer that comes past the late limit, after another station's
// exchange has completed, lands in its own station's next exchange: the
// station still owes it, so that answer waits for the line's silence, and
// the one queued behind it voids it. Swept across the window in which it
// lands there, at two paces.
TEST_F(BenchHostLineTest, AnOwedAnswerIsNeverStoredAsTheNextRoundsWhateverOtherStationsDo) {
    struct Pace {
        std::vector<std::string> options;
        std::vector<int> lateness_ms;
    };
    const std::vector<Pace> paces = {
        {{"--timeout", "150", "--interval", "0.05"}, {800, 850, 900, 950, 1000, 1050}},
        {{"--interval", "0"}, {2700}},
    };
    for (const Pace& pace : paces)
        for (int late : pace.lateness_ms) {
            SCOPED_TRACE("--sim-late " + std::to_string(late));
            std::filesystem::remove(History());
            std::vector<std::string> args = Line({1, 2});
            args.insert(args.end(), pace.options.begin(), pace.options.end());
            args.insert(args.end(), {"--rounds", "6", "--sim-late", std::to_string(late),
                                     "--sim-fault", "late@1:4"});
            ASSERT_EQ(RunHost(args), 0) << err;
            const Lost lost = CheckOwnRecords();
            EXPECT_EQ(lost.count({4, 1}), 1u) << out;
            EXPECT_LE(lost.size(), 3u) << out;
        }
}

// As the controller's framework may, --no-checksum hands every answer to
// the driver: a damaged one is then decoded as a reading, and every place
// that reports the run says the checksums were not checked.
TEST_F(BenchHostLineTest, WithoutTheChecksumCheckADamagedAnswerIsStoredAndTheRunSaysSo) {
    const std::string json = scratch.File("stats.json");
    struct Row {
        std::vector<std::string> extra;
        int completed;
        bool checked;
    };
    for (const Row& row : std::vector<Row>{{{}, 2, true}, {{"--no-checksum"}, 3, false}}) {
        std::filesystem::remove(History());
        std::vector<std::string> args = Line({1});
        args.insert(args.end(), {"--rounds", "3", "--interval", "0", "--sim-fault", "corrupt@2",
                                 "--stats-json", json});
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        ASSERT_EQ(RunHost(args), 0) << err;
        const std::string marked = "checksums not checked";
        EXPECT_EQ(out.find(", " + marked + "; a round every") != std::string::npos, !row.checked) << out;
        EXPECT_EQ(out.find(" stored in " + History() + "; " + marked) != std::string::npos,
                  !row.checked)
            << out;
        EXPECT_EQ(ReadJsonFile(json)["checksum_checked"].asBool(), row.checked);
        EXPECT_EQ(StoredRows().size(), static_cast<std::size_t>(row.completed)) << out;
    }
}

// The line's pace, from the statistics file: a fault's doubt ends with the
// next confirmed answer (twenty rounds back to back stay near the wire's
// pace, not a timeout each), response times run from the request's end
// (never below what the line can carry, nor the request's own time
// above), and rounds start an interval after the previous round began.
TEST_F(BenchHostLineTest, TheLineKeepsItsPaceAfterAFaultAndRoundsStartAnIntervalApart) {
    const std::string json = scratch.File("stats.json");
    std::vector<std::string> args = Line({1});
    args.insert(args.end(), {"--rounds", "20", "--interval", "0", "--sim-fault", "noise@3",
                             "--stats-json", json});
    ASSERT_EQ(RunHost(args), 0) << err;
    Json::Value stats = ReadJsonFile(json);
    // 20 polls of 76 ms and one settling of the 500 ms timeout; a doubt
    // never cleared would wait out a timeout every round (over 10 s).
    EXPECT_LT(stats["run_seconds"].asDouble(), 5.0) << out;
    // 58 characters and the 1.5 that end a frame: 61.98 ms at 9600 baud;
    // counted from the request's start it would be 8.33 ms more.
    const double min_ms = stats["line"]["response_ms"]["min"].asDouble();
    EXPECT_GE(min_ms, 61.98) << out;
    EXPECT_LT(min_ms, 70.0) << out;
    EXPECT_LE(stats["line"]["line_use_percent"].asDouble(), 100.0) << out;
    // Nor on a fast line, where the meter answers 3.5 characters after the
    // request, not the 1.75 ms the host keeps.
    std::filesystem::remove(History());
    args = Line({1});
    args.insert(args.end(), {"--baud", "115200", "--rounds", "100", "--interval", "0",
                             "--stats-json", json});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_LE(ReadJsonFile(json)["line"]["line_use_percent"].asDouble(), 100.0) << out;

    // Three meters take about 210 ms a round: started 300 ms apart, five
    // rounds end after about 1.41 s; started 300 ms after the last ended,
    // after about 2.25 s.
    std::filesystem::remove(History());
    args = Line({1, 2, 3});
    args.insert(args.end(), {"--rounds", "5", "--interval", "0.3", "--stats-json", json});
    ASSERT_EQ(RunHost(args), 0) << err;
    stats = ReadJsonFile(json);
    EXPECT_GT(stats["run_seconds"].asDouble(), 1.2) << out;
    EXPECT_LT(stats["run_seconds"].asDouble(), 1.8) << out;
}

// An answer that comes after the timeout but within the late limit is
// counted as late and shown with --verbose, and the run says which timeout
// would take it.
TEST_F(BenchHostLineTest, AnAnswerJustAfterTheTimeoutIsLateAndTheRunSuggestsATimeout) {
    const std::string json = scratch.File("stats.json");
    std::vector<std::string> args = Line({1});
    args.insert(args.end(), {"--rounds", "3", "--interval", "0", "--timeout", "150",
                             "--late-limit", "600", "--sim-late", "250", "--sim-fault", "late@2",
                             "--stats-json", json, "--verbose"});
    ASSERT_EQ(RunHost(args), 0) << err;
    EXPECT_EQ(CheckOwnRecords(), (Lost{{2, 1}}));
    EXPECT_NE(out.find("  late: 58 bytes came after station 1's 150 ms timeout, the first "),
              std::string::npos)
        << out;
    // The answer ends about 250 + 61 ms after its request: a quarter more,
    // in steps of 50 ms.
    EXPECT_NE(out.find("hint: answers come after the timeout (one ended "), std::string::npos) << out;
    const std::size_t suggested = out.find("try --timeout ");
    ASSERT_NE(suggested, std::string::npos) << out;
    const unsigned long timeout = std::stoul(out.substr(suggested + 14));
    EXPECT_TRUE(timeout == 400 || timeout == 450) << out;
    EXPECT_EQ(ReadJsonFile(json)["line"]["lost_by_reason"]["late"].asUInt(), 1u);
}

// Meters and lines we did not write, back to back: whatever follows an
// answer, no record is another request's, and each costs what it says.
TEST_F(BenchHostLineTest, CopiesNeighboursAndGlitchesNeverBecomeAnotherRoundsReading) {
    // A following frame comes a few characters after the answer, close to
    // where the silent interval ends it: on a loaded machine it may be seen
    // as the answer's tail (the answer alone is lost) or in the next
    // exchange (both are).
    struct Row {
        std::vector<std::string> faults;
        Lost must_lose;
        Lost may_lose;
        std::vector<const char*> says;  // one of them, in the lost rows
    };
    const char* kFollowed = "more bytes followed the answer";
    const char* kTooEarly = "lost: a whole answer ";
    const std::vector<Row> rows = {
        // The copy follows the answer, or lands in round 4's exchange,
        // sooner than any answer to it could be whole.
        {{"--sim-fault", "twice@3"}, {{3, 1}}, {{3, 1}, {4, 1}}, {kFollowed, kTooEarly}},
        {{"--sim-fault", "neighbour@3"},
         {{3, 1}},
         {{3, 1}, {4, 1}},
         {kFollowed, "not station 1's address"}},
        // Later, the copy is whole in round 4's time and taken for its
        // answer; round 4's own answer follows it: round 3 stands, round 4
        // is lost, and round 5 when round 4's answer lands in it.
        {{"--sim-fault", "twice@3", "--sim-copy-gap", "40"}, {{4, 1}}, {{4, 1}, {5, 1}}, {kFollowed}},
        // Round 4 sends nothing while the copy is due: the copy comes too
        // early to be its answer and round 3's record is voided by it.
        {{"--sim-fault", "twice@3", "--sim-fault", "busy@4", "--sim-copy-gap", "8"},
         {{3, 1}, {4, 1}},
         {{3, 1}, {4, 1}},
         {kFollowed, kTooEarly}},
        // A USB adapter's latency timer hands bytes over in bursts: the
        // answer queued behind a copy still voids it.
        {{"--sim-fault", "twice@3", "--sim-copy-gap", "30", "--sim-line", "bursts=16"},
         {},
         {{3, 1}, {4, 1}, {5, 1}},
         {""}},
        // An RS-485 driver's glitch after every answer costs nothing.
        {{"--sim-line", "stray=2"}, {}, {}, {""}},
        {{"--sim-fault", "exception@3"}, {{3, 1}}, {{3, 1}}, {"lost: the meter answered Modbus exception 02"}},
        {{"--sim-fault", "standard@3"},
         {{3, 1}},
         {{3, 1}},
         {"lost: this meter answers in the standard 47-byte form"}},
        {{"--sim-line", "bursts"}, {}, {}, {""}},
    };
    for (const Row& row : rows) {
        std::string faults;
        for (const std::string& word : row.faults)
            faults += word + ' ';
        SCOPED_TRACE(faults);
        std::filesystem::remove(History());
        std::vector<std::string> args = Line({1});
        args.insert(args.end(), {"--rounds", "6", "--interval", "0"});
        args.insert(args.end(), row.faults.begin(), row.faults.end());
        ASSERT_EQ(RunHost(args), 0) << err;
        const Lost lost = CheckOwnRecords();
        EXPECT_TRUE(std::includes(lost.begin(), lost.end(), row.must_lose.begin(),
                                  row.must_lose.end()) &&
                    std::includes(row.may_lose.begin(), row.may_lose.end(), lost.begin(),
                                  lost.end()))
            << out;
        EXPECT_TRUE(std::any_of(row.says.begin(), row.says.end(),
                                [this](const char* says) { return out.find(says) != std::string::npos; }))
            << out;
        ExpectLostRowsShowNoDroppedAnswer();
    }
}

// A device that never lets the line fall quiet holds every request back:
// the run says so while it waits, and a stop still ends it with its summary.
TEST_F(BenchHostLineTest, ALineThatNeverFallsQuietIsNamedWhileTheHostWaits) {
    std::vector<std::string> args = Line({1});
    args.insert(args.end(), {"--rounds", "3", "--interval", "0", "--sim-line", "babble"});
    ToolProcess host(BENCH_HOST, WithHistory(args), scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("line not quiet for 5 s: another device is sending\n",
                                   std::chrono::seconds(15)))
        << host.Stdout();
    host.Signal(SIGINT);
    const std::optional<int> status = host.WaitFor(std::chrono::seconds(5));
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(host.Stdout().find("\nstopped: "), std::string::npos) << host.Stdout();
}
