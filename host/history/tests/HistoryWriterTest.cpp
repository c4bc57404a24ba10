#include "HeldWriteLock.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"
#include "ScratchDirectory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Record n of a test: 59 bytes, its number in the first four.
std::vector<unsigned char> Record(std::uint32_t n) {
    std::vector<unsigned char> bytes(59, 0xA5);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(n >> (8 * i));
    return bytes;
}

void HandRecord(HistoryWriter& writer, std::uint32_t n) {
    const std::vector<unsigned char> bytes = Record(n);
    writer.Hand(77, "2026-12-09 10:00:00.000", bytes.data(), bytes.size());
}

std::string QueryText(const std::string& path, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    std::string text = "(failed)";
    if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW)
        text = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return text;
}

// -1 while the writer is still making the file (no table yet, or its lock).
std::int64_t RowCount(const std::string& path) {
    const std::string text = QueryText(path, "SELECT COUNT(*) FROM history");
    return text == "(failed)" ? -1 : std::stoll(text);
}

// The numbers of the stored records, oldest first, as one text.
std::string StoredNumbers(const std::string& path) {
    return QueryText(path,
                     "SELECT COALESCE(group_concat(n, ' '), '') FROM (SELECT "
                     "unicode(substr(CAST(record AS TEXT), 1, 1)) AS n FROM history ORDER BY id)");
}

}  // namespace

// A record is in the file soon after it is handed over, and many handed
// over at once all reach it, in their order.
TEST(HistoryWriterTest, StoresEveryRecordInTheOrderHandedOver) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    HistoryWriter writer(path, {});

    const auto handed = Clock::now();
    HandRecord(writer, 1);
    while (RowCount(path) < 1 && Clock::now() - handed < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_LT(Clock::now() - handed, std::chrono::seconds(1)) << "the delay to the commit";

    for (std::uint32_t n = 2; n <= 100; ++n)
        HandRecord(writer, n);
    writer.Finish(HistoryWriter::Locks::kWaitOut);
    EXPECT_EQ(writer.Stored(), 100u);
    EXPECT_EQ(writer.NotStored(), 0u);
    std::string expected;
    for (int n = 1; n <= 100; ++n)
        expected += (n == 1 ? "" : " ") + std::to_string(n);
    EXPECT_EQ(StoredNumbers(path), expected);
    EXPECT_EQ(QueryText(path, "PRAGMA integrity_check"), "ok");
}

// Another program's write lock holds up the writer, never whoever hands
// records over; what was handed over meanwhile is stored once it is gone,
// or, when the end does not wait for it, counted as not stored.
TEST(HistoryWriterTest, AnotherProgramsLockHoldsUpOnlyTheWriter) {
    for (const bool wait_out : {true, false}) {
        ScratchDirectory scratch;
        const std::string path = scratch.File("history.sqlite");
        HistoryWriter writer(path, {});
        HeldWriteLock lock(path);
        ASSERT_TRUE(lock.Held());
        const auto start = Clock::now();
        for (std::uint32_t n = 1; n <= 50; ++n)
            HandRecord(writer, n);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100)) << "Hand waited";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the writer waits

        const auto finish = Clock::now();
        if (wait_out) {
            std::thread release([&lock] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                lock.Release();
            });
            writer.Finish(HistoryWriter::Locks::kWaitOut);
            release.join();
            EXPECT_EQ(writer.Stored(), 50u);
            EXPECT_EQ(writer.NotStored(), 0u);
        } else {
            writer.Finish(HistoryWriter::Locks::kGiveUp);
            EXPECT_LT(Clock::now() - finish, std::chrono::milliseconds(200)) << "it waited";
            lock.Release();
            EXPECT_EQ(writer.Stored(), 0u);
            EXPECT_EQ(writer.NotStored(), 50u);
            EXPECT_FALSE(writer.Failure()) << "giving up at the end is no failure";
        }
        HandRecord(writer, 51);  // after the end
        EXPECT_EQ(writer.NotStored(), wait_out ? 1u : 51u);
        EXPECT_EQ(RowCount(path), static_cast<std::int64_t>(writer.Stored()));
    }
}

// A group the database refuses ends the writing: the failure is kept and
// announced once, and that group and all later records are not stored.
TEST(HistoryWriterTest, ARefusedGroupEndsTheWritingAndCountsWhatIsNotStored) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    std::atomic<int> announced{0};
    HistoryWriter writer(path, {}, [&announced] { ++announced; });
    HandRecord(writer, 1);
    while (writer.Stored() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "DROP TABLE history", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    HandRecord(writer, 2);
    while (!writer.Failure())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    HandRecord(writer, 3);
    writer.Finish(HistoryWriter::Locks::kWaitOut);

    EXPECT_EQ(announced.load(), 1);
    EXPECT_EQ(writer.Stored(), 1u);
    EXPECT_EQ(writer.NotStored(), 2u);
    try {
        std::rethrow_exception(writer.Failure());
    } catch (const std::exception& failure) {
        EXPECT_NE(std::string(failure.what()).find("cannot write to history file " + path),
                  std::string::npos)
            << failure.what();
    }
}

// A writing process killed at any moment (as a power loss would stop it,
// short of the disk's own cache) leaves a file that passes SQLite's
// integrity check and holds at least every group it had committed.
TEST(HistoryWriterTest, AKilledWriterLeavesEveryCommittedGroupAndAWholeFile) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> moment_us(0, 150000);
    { HistoryStore made(path, HistoryStore::Access::kReadWrite); }
    for (int run = 0; run < 20; ++run) {
        const std::int64_t before = RowCount(path);
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Hands records over without pause and says after each how
            // many are committed, until killed.
            close(report[0]);
            HistoryWriter writer(path, {});
            std::uint64_t said = 0;
            for (std::uint32_t n = 1; n < 10000000; ++n) {
                HandRecord(writer, n);
                const std::uint64_t stored = writer.Stored();
                if (stored != said &&
                    write(report[1], &stored, sizeof stored) != sizeof stored)
                    _exit(2);
                said = stored;
                usleep(20);  // a fast line's pace, not a flood
            }
            _exit(0);
        }
        close(report[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(moment_us(random)));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        std::uint64_t committed = 0;
        std::uint64_t value = 0;
        while (read(report[0], &value, sizeof value) == sizeof value)
            committed = value;
        close(report[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "run " << run << " ended by itself, seed " << seed;

        EXPECT_EQ(QueryText(path, "PRAGMA integrity_check"), "ok")
            << "run " << run << ", seed " << seed;
        EXPECT_GE(RowCount(path), before + static_cast<std::int64_t>(committed))
            << "run " << run << ", seed " << seed;
    }
    // And the bench host takes it on again as its history.
    EXPECT_NO_THROW(HistoryStore(path, HistoryStore::Access::kReadWrite));
}
