// The bench host as a user runs it: its own process, the real qvt7702.so,
// the embedded simulated meter on a pseudo-terminal, SQLite history.
#include "HistoryStore.h"
#include "MeterRecord.h"
#include "ScratchDirectory.h"
#include "SerialLine.h"
#include "SimulatedMeter.h"
#include "SimulatedReadings.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/asio/io_context.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace {

struct Summary {
    int rounds = -1;
    int completed = -1;
    int lost = -1;
};

class BenchHostEndToEndTest : public ::testing::Test {
protected:
    // Runs the bench host to its end with the shipped example settings.
    int RunHost(std::vector<std::string> args) {
        ToolProcess host(BENCH_HOST, WithHistory(std::move(args)), scratch.Path());
        const int status = host.Wait();
        out = host.Stdout();
        err = host.Stderr();
        return status;
    }

    // The scratch history file, unless the test names one.
    std::vector<std::string> WithHistory(std::vector<std::string> args) const {
        if (std::find(args.begin(), args.end(), "--history") == args.end())
            args.insert(args.end(), {"--history", History()});
        return args;
    }

    std::string History() const { return scratch.File("history.sqlite"); }

    std::vector<MeterRecord> StoredRecords() const {
        HistoryStore store(History(), HistoryStore::Access::kReadOnly);
        std::vector<MeterRecord> records;
        for (const HistoryRow& row : store.All()) {
            EXPECT_EQ(row.data_id, 1201u);
            records.push_back(MeterRecord::FromBytes(row.record).value());
        }
        return records;
    }

    static bool Carries(const MeterRecord& record, std::uint32_t answer) {
        const SimulatedReadings::Words sent = SimulatedReadings::WordsOf(answer);
        for (int i = 0; i < MeterRecord::kWordCount; ++i)
            if (record.Word(i) != static_cast<float>(sent[i]))
                return false;
        return record.DataId() == 1201u;
    }

    // Table rows by label ("cache", "1", "2", ...), split at blanks.
    std::map<std::string, std::vector<std::string>> TableRows() const {
        std::map<std::string, std::vector<std::string>> rows;
        std::istringstream lines(out);
        std::string line;
        const std::regex row("^ *(cache|[0-9]+)  [0-9]{2}:[0-9]{2}:[0-9]{2} .*");
        while (std::getline(lines, line)) {
            if (!std::regex_match(line, row))
                continue;
            std::istringstream words(line);
            std::vector<std::string> cells;
            for (std::string word; words >> word;)
                cells.push_back(word);
            rows[cells.at(0)] = cells;
        }
        return rows;
    }

    Summary Ending() const {
        Summary summary;
        std::smatch found;
        const std::regex line("(done|stopped): ([0-9]+) rounds?, ([0-9]+) completed, ([0-9]+) lost");
        if (std::regex_search(out, found, line)) {
            summary.rounds = std::stoi(found[2]);
            summary.completed = std::stoi(found[3]);
            summary.lost = std::stoi(found[4]);
        }
        return summary;
    }

    // A voltage as the table shows it: the word divided by 100 as a float.
    static std::string Volts(std::uint16_t word) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", static_cast<double>(word / 100.0f));
        return text;
    }

    ScratchDirectory scratch;
    std::string out;
    std::string err;
};

TEST_F(BenchHostEndToEndTest, EveryRoundIsDecodedShownAndStoredAsSent) {
    ASSERT_EQ(RunHost({"--rounds", "4", "--interval", "0.05"}), 0) << err;
    EXPECT_EQ(err, "");
    const Summary summary = Ending();
    EXPECT_EQ(summary.rounds, 4);
    EXPECT_EQ(summary.completed, 4);
    EXPECT_EQ(summary.lost, 0);

    const std::vector<MeterRecord> records = StoredRecords();
    ASSERT_EQ(records.size(), 4u);
    const auto rows = TableRows();
    for (std::uint32_t round = 1; round <= 4; ++round) {
        EXPECT_TRUE(Carries(records[round - 1], round)) << "round " << round;
        const SimulatedReadings::Words sent = SimulatedReadings::WordsOf(round);
        const std::vector<std::string>& row = rows.at(std::to_string(round));
        ASSERT_GE(row.size(), 12u);
        EXPECT_EQ(row[2], Volts(sent[4])) << "Ua of round " << round;
        EXPECT_EQ(row[5], Volts(sent[1])) << "Uab of round " << round;
        EXPECT_EQ(row[9], std::to_string(sent[9]) + ".00") << "Ic of round " << round;
        EXPECT_EQ(row[10], std::to_string(round)) << "completed counter";
    }

    // The decoded history agrees with what the meter's value queries gave.
    ASSERT_EQ(RunHost({"--csv"}), 0) << err;
    std::vector<std::string> csv;
    boost::split(csv, out, [](char c) { return c == '\n'; });
    ASSERT_EQ(csv.size(), 6u);  // header, four rows, empty rest
    EXPECT_EQ(csv[0].rfind("row,data_id,stamp,stored_at,w0,", 0), 0u);
    EXPECT_NE(csv[2].find("," + Volts(SimulatedReadings::WordsOf(2)[4]) + ","), std::string::npos);

    ASSERT_EQ(RunHost({"--dump"}), 0) << err;
    EXPECT_NE(out.find("data id 1201  stamp "), std::string::npos);
    EXPECT_NE(out.find("Ua " + Volts(SimulatedReadings::WordsOf(4)[4]) + " "), std::string::npos);
}

TEST_F(BenchHostEndToEndTest, EachFaultCostsAtMostTheRoundItHits) {
    const std::set<std::uint32_t> faulty = {2, 4, 6, 8, 10, 12};
    ASSERT_EQ(RunHost({"--rounds", "13", "--interval", "0.45", "--timeout", "200", "--sim-late",
                       "350", "--sim-fault", "silent@2", "--sim-fault", "short@4", "--sim-fault",
                       "extra@6", "--sim-fault", "noise@8", "--sim-fault", "late@10",
                       "--sim-fault", "station@12"}),
              0)
        << err;

    const Summary summary = Ending();
    EXPECT_EQ(summary.rounds, 13);
    EXPECT_LE(summary.lost, 6);
    EXPECT_GE(summary.lost, 3) << "no answer, a short one and a late one are always lost";

    // Every round the faults did not hit decodes what the meter sent, in order.
    const std::vector<MeterRecord> records = StoredRecords();
    EXPECT_EQ(static_cast<int>(records.size()), summary.completed);
    std::size_t next = 0;
    for (std::uint32_t round = 1; round <= 13; ++round) {
        if (faulty.count(round) != 0)
            continue;
        while (next < records.size() && !Carries(records[next], round))
            ++next;
        EXPECT_LT(next, records.size()) << "round " << round << " was not stored as sent";
    }
    const auto rows = TableRows();
    ASSERT_GE(rows.at("2").size(), 14u);
    EXPECT_EQ(rows.at("2")[12] + " " + rows.at("2")[13], "lost: no") << "the silent round";
    EXPECT_EQ(rows.at("13").at(11), std::to_string(summary.lost));
}

TEST_F(BenchHostEndToEndTest, RestartReloadsTheNewestStoredRecord) {
    ASSERT_EQ(RunHost({"--rounds", "3", "--interval", "0.05"}), 0) << err;
    ASSERT_EQ(RunHost({"--rounds", "2", "--interval", "0.05"}), 0) << err;

    const auto rows = TableRows();
    ASSERT_EQ(rows.count("cache"), 1u) << out;
    EXPECT_EQ(rows.at("cache").at(2), Volts(SimulatedReadings::WordsOf(3)[4]));
    EXPECT_NE(out.find("newest record from history, stored "), std::string::npos);
    EXPECT_LT(out.find("cache "), out.find("    1  ")) << "the reload comes before the first poll";

    // The reload completes a round of its own, stored like any other.
    const std::vector<MeterRecord> records = StoredRecords();
    ASSERT_EQ(records.size(), 3u + 1u + 2u);
    EXPECT_TRUE(Carries(records[3], 3));
    EXPECT_TRUE(Carries(records[4], 1));
}

TEST_F(BenchHostEndToEndTest, InterruptStopsBetweenExchangesWithConsistentHistory) {
    ToolProcess host(BENCH_HOST, WithHistory({"--interval", "0.05"}), scratch.Path());
    ASSERT_TRUE(host.WaitForOutput("    3  ", std::chrono::seconds(10))) << host.Stdout();
    host.Signal(SIGINT);
    EXPECT_EQ(host.Wait(), 0) << host.Stderr();
    out = host.Stdout();

    const Summary summary = Ending();
    EXPECT_NE(out.find("stopped: "), std::string::npos) << out;
    EXPECT_GE(summary.rounds, 3);
    EXPECT_EQ(summary.completed + summary.lost, summary.rounds) << "no exchange left half done";

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(History().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
    EXPECT_EQ(static_cast<int>(StoredRecords().size()), summary.completed);
}

struct BadInput {
    std::vector<std::string> args;
    int status;
    std::string message;
};

TEST_F(BenchHostEndToEndTest, BadInputGivesOneLineAndItsExitStatusAndNoHistory) {
    std::ofstream(scratch.File("broken.json")) << "{\n  \"dataId\": 5,\n  \"appSetting\" {}\n}\n";
    std::ofstream(scratch.File("no-id.json")) << "{ \"appSetting\": { \"b_mode\": \"3\" } }\n";
    std::ofstream(scratch.File("not-a-library.so")) << "text\n";

    const std::vector<BadInput> cases = {
        {{"--rounds", "x"}, 2, "bench_host: the argument ('x') for option '--rounds' is invalid"},
        {{"--sim-fault", "loud@1"}, 2, "bench_host: --sim-fault: unknown fault 'loud'"},
        {{"--settings", "missing.json"}, 3, "settings file missing.json: No such file"},
        {{"--settings", "broken.json"}, 3,
         "settings file broken.json: Line 3, Column 16: Missing ':' after object member name"},
        {{"--settings", "no-id.json"}, 3, "\"dataId\" is missing"},
        {{"--plugin", "not-a-library.so"}, 4, "cannot load plug-in: not-a-library.so: "},
        {{"--plugin", "absent.so"}, 4, "cannot load plug-in: absent.so: No such file or directory"},
        {{"--port", "/dev/no-such-serial-port"}, 5,
         "cannot open serial port /dev/no-such-serial-port: No such file or directory"},
    };
    for (const BadInput& bad : cases) {
        EXPECT_EQ(RunHost(bad.args), bad.status) << bad.args.at(0);
        EXPECT_NE(err.find(bad.message), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_FALSE(std::filesystem::exists(History())) << "no history file after " << err;
    }
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

TEST_F(BenchHostEndToEndTest, APortHeldByAnotherProgramIsBusy) {
    SimulatedMeter meter{SimulatedMeterOptions{}};
    boost::asio::io_context io;
    SerialLine holder(io);
    holder.Open(meter.PortPath(), 9600);

    EXPECT_EQ(RunHost({"--port", meter.PortPath(), "--rounds", "1"}), 5);
    EXPECT_NE(err.find("busy, another program holds it"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(History()));
}

}  // namespace
