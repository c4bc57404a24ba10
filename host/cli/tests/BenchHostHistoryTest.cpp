// The bench host's history as a user meets it: someone reading the file
// during a run, a file that is not the bench host's, a file that cannot be
// written, and a history holding records that are not this device's.
#include "BenchHostTest.h"
#include "FileBytes.h"
#include "RunOutput.h"
#include "SimulatedReadings.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {

// A table row's start: the round number right-aligned in five columns.
std::string RowStart(int round) {
    char text[16];
    std::snprintf(text, sizeof text, "\n%5d  ", round);
    return text;
}

std::string Volts(std::uint16_t word) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(word / 100.0f));
    return text;
}

// A connection of another program, such as the sqlite3 shell.
class Connection {
public:
    explicit Connection(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    }
    ~Connection() { sqlite3_close(db_); }

    bool Execute(const std::string& sql) {
        return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    long long Number(const std::string& sql) {
        sqlite3_stmt* query = nullptr;
        long long value = -1;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &query, nullptr) == SQLITE_OK &&
            sqlite3_step(query) == SQLITE_ROW)
            value = sqlite3_column_int64(query, 0);
        sqlite3_finalize(query);
        return value;
    }
private:
    sqlite3* db_ = nullptr;
};

// The immutable attribute, which stops even root from writing a file; not
// every file system has it.
class ImmutableFile {
public:
    explicit ImmutableFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY)) {
        int flags = 0;
        if (fd_ >= 0 && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            set_ = ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
        }
    }
    ~ImmutableFile() {
        int flags = 0;
        if (set_ && ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(fd_, FS_IOC_SETFLAGS, &flags);
        }
        if (fd_ >= 0)
            close(fd_);
    }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;

    bool Set() const { return set_; }

private:
    int fd_;
    bool set_ = false;
};

class BenchHostHistoryTest : public BenchHostTest {
protected:
    std::vector<HistoryRow> Rows() const { return StoredRows(); }

    // Checks that a refused history left nothing of a run behind.
    void ExpectRefusedBeforeTheFirstPoll(const std::string& cause) {
        ExpectRefused({{"--rounds", "1", "--interval", "0"}, 6, cause}, true);
    }
};

TEST_F(BenchHostHistoryTest, AReaderHoldingATransactionNeverHoldsUpARun) {
    ToolProcess host(BENCH_HOST, WithHistory({"--rounds", "100", "--interval", "0.02"}),
                     scratch.Path());
    ASSERT_TRUE(host.WaitForOutput(RowStart(3), std::chrono::seconds(20))) << host.Stderr();

    // A shown round is stored once the line's silence confirms it, so the
    // file may trail the table by a round or two.
    Connection reader(History());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (reader.Number("SELECT COUNT(*) FROM history") < 3 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(reader.Execute("BEGIN"));
    const long long seen = reader.Number("SELECT COUNT(*) FROM history");
    ASSERT_GE(seen, 3);
    // Rounds go on, and are stored, while the reader keeps its snapshot for
    // several seconds.
    EXPECT_TRUE(host.WaitForOutput(RowStart(static_cast<int>(seen) + 5), std::chrono::seconds(30)))
        << "no round completed while a reader held the file:\n"
        << host.Stderr();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(reader.Number("SELECT COUNT(*) FROM history"), seen) << "the reader's own snapshot";
    EXPECT_TRUE(reader.Execute("COMMIT"));

    EXPECT_EQ(host.Wait(), 0) << host.Stderr();
    EXPECT_EQ(host.Stderr(), "");
    EXPECT_NE(host.Stdout().find("done: 100 rounds, "), std::string::npos) << host.Stdout();
    const std::optional<RunSummary> summary = ReadSummary(host.Stdout());
    ASSERT_TRUE(summary.has_value()) << host.Stdout();
    EXPECT_EQ(Rows().size(), summary->completed) << "every completed round is stored";
}

TEST_F(BenchHostHistoryTest, AnotherProgramsDatabaseIsRefusedBeforeTheFirstPollAndKeptAsItWas) {
    {
        Connection other(History());
        ASSERT_TRUE(other.Execute("CREATE TABLE history (id INTEGER PRIMARY KEY, reading REAL);"
                                  "INSERT INTO history VALUES (1, 230.5);"));
    }
    const std::string before = FileBytes(History());
    ExpectRefusedBeforeTheFirstPoll("history file " + History() +
                                    " is not a bench history: its history table has other "
                                    "columns (id INTEGER, reading REAL); it is left as it is");
    EXPECT_TRUE(FileBytes(History()) == before);
    EXPECT_EQ(RunHost({"--dump"}), 6);
    EXPECT_NE(err.find("is not a bench history"), std::string::npos) << err;
    EXPECT_TRUE(FileBytes(History()) == before);
}

TEST_F(BenchHostHistoryTest, AHistoryThatCannotBeWrittenIsRefusedBeforeTheFirstPoll) {
    std::filesystem::create_directory(History());
    ExpectRefusedBeforeTheFirstPoll("history file " + History() + " is a directory");
    std::filesystem::remove(History());

    ASSERT_EQ(RunHost({"--rounds", "1", "--interval", "0"}), 0) << err;
    const std::string before = FileBytes(History());
    const ImmutableFile read_only(History());
    if (!read_only.Set())
        GTEST_SKIP() << "this file system cannot make a file immutable; the unprivileged "
                        "read-only cases are in HistoryStoreTest";
    ExpectRefusedBeforeTheFirstPoll("history file " + History() + " is read-only");
    EXPECT_TRUE(FileBytes(History()) == before);
}

TEST_F(BenchHostHistoryTest, RestartReloadsOnlyARecordOfThisDevice) {
    ASSERT_EQ(RunHost({"--rounds", "2", "--interval", "0.05"}), 0) << err;
    {
        // Round 2's record with another data id in its own first bytes, then
        // a record cut short, both filed under the device.
        Connection other(History());
        ASSERT_TRUE(other.Execute(
            "INSERT INTO history (data_id, stored_at, record) SELECT 1201, '2030-01-01 "
            "00:00:00.000', X'4D000000' || substr(record, 5) FROM history WHERE id = 2;"
            "INSERT INTO history (data_id, stored_at, record) VALUES (1201, '2030-01-01 "
            "00:00:00.000', zeroblob(12));"));
    }

    ASSERT_EQ(RunHost({"--rounds", "1", "--interval", "0"}), 0) << err;
    const std::string skipped_short = "cache: skipped record #4 stored 2030-01-01 00:00:00.000: "
                                      "12 bytes, not a 59-byte record\n";
    const std::string skipped_other = "cache: skipped record #3 stored 2030-01-01 00:00:00.000: "
                                      "its own data id is 77, not 1201\n";
    EXPECT_NE(out.find(skipped_short), std::string::npos) << out;
    EXPECT_NE(out.find(skipped_other), std::string::npos) << out;
    EXPECT_LT(out.find(skipped_short), out.find(skipped_other)) << "newest first";
    const std::vector<RoundRow> shown = ReadRoundRows(out);
    const auto cache_row = std::find_if(shown.begin(), shown.end(),
                                        [](const RoundRow& row) { return row.IsCache(); });
    ASSERT_NE(cache_row, shown.end()) << out;
    const RoundRow& cache = *cache_row;
    EXPECT_EQ(cache.station, 1);
    EXPECT_NE(cache.note.find("newest record from history"), std::string::npos) << out;
    ASSERT_FALSE(cache.values.empty()) << out;
    EXPECT_EQ(cache.values[0], Volts(SimulatedReadings::WordsOf(2)[4])) << "the newest of this device";

    // The reload stored the device's own record again, under its own data id.
    const std::vector<HistoryRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2u + 2u + 1u + 1u);
    const std::optional<MeterRecord> reloaded = MeterRecord::FromBytes(rows[4].record);
    ASSERT_TRUE(reloaded.has_value());
    EXPECT_EQ(reloaded->DataId(), kExampleDataId);
    EXPECT_EQ(reloaded->Word(4), SimulatedReadings::WordsOf(2)[4]);
}

}  // namespace
