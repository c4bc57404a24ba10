#include "BenchError.h"
#include "BulkHistory.h"
#include "FileBytes.h"
#include "HeldWriteLock.h"
#include "HistoryStore.h"
#include "ScratchDirectory.h"
#include "StopRequested.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

namespace {

std::vector<unsigned char> Record(unsigned char fill) {
    return std::vector<unsigned char>(59, fill);
}

// A database written by some other program: runs `sql` and closes it.
void WriteDatabase(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

std::string QueryText(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* query = nullptr;
    std::string text = "(failed)";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW)
        text = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    sqlite3_finalize(query);
    sqlite3_close(db);
    return text;
}

// The message a HistoryStore on `path` is refused with; "" when it opens.
std::string Refusal(const std::string& path, HistoryStore::Access access) {
    try {
        HistoryStore store(path, access);
        return "";
    } catch (const BenchError& failure) {
        EXPECT_EQ(failure.Code(), ExitCode::kHistory);
        return failure.what();
    }
}

// The history table as the bench host wrote it before files were marked.
const char kUnmarkedHistory[] =
    "CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
    " stored_at TEXT NOT NULL, record BLOB NOT NULL);"
    "CREATE INDEX history_by_device ON history (data_id, id);";

TEST(HistoryStoreTest, KeepsRecordsInOrderAndFindsEachDevicesNewest) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    {
        HistoryStore store(path, HistoryStore::Access::kReadWrite);
        EXPECT_FALSE(store.Newest(7).has_value());
        store.Append(7, "2024-05-01 10:00:00.000", Record(1).data(), 59);
        store.Append(8, "2024-05-01 10:00:01.000", Record(2).data(), 59);
        store.Append(7, "2024-05-01 10:00:02.000", Record(3).data(), 59);
        store.Append(8, "2024-05-01 10:00:03.000", Record(4).data(), 59);
    }
    HistoryStore reopened(path, HistoryStore::Access::kReadWrite);
    const std::optional<HistoryRow> newest = reopened.Newest(7);
    ASSERT_TRUE(newest.has_value());
    EXPECT_EQ(newest->record, Record(3));
    EXPECT_EQ(newest->stored_at, "2024-05-01 10:00:02.000");
    EXPECT_EQ(reopened.Newest(8)->record, Record(4));
    EXPECT_FALSE(reopened.Newest(9).has_value());

    const std::vector<HistoryRow> all = reopened.All();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[1].data_id, 8u);
    EXPECT_EQ(all[1].record, Record(2));
    EXPECT_LT(all[0].row_id, all[3].row_id);
}

TEST(HistoryStoreTest, UnusableFilesAreRefusedWithoutBeingChanged) {
    ScratchDirectory scratch;
    const std::string text = scratch.File("notes.txt");
    std::ofstream(text) << "plain text\n";
    const auto size = std::filesystem::file_size(text);

    for (auto access : {HistoryStore::Access::kReadWrite, HistoryStore::Access::kReadOnly}) {
        try {
            HistoryStore store(text, access);
            ADD_FAILURE() << "a text file was taken for history";
        } catch (const BenchError& failure) {
            EXPECT_EQ(failure.Code(), ExitCode::kHistory);
            EXPECT_NE(std::string(failure.what()).find("file is not a database"), std::string::npos);
        }
    }
    EXPECT_EQ(std::filesystem::file_size(text), size);

    EXPECT_THROW(HistoryStore(scratch.File("missing.sqlite"), HistoryStore::Access::kReadOnly),
                 BenchError);
    EXPECT_FALSE(std::filesystem::exists(scratch.File("missing.sqlite")));
}

struct ForeignDatabase {
    const char* what;
    std::string sql;
    const char* reason;
};

TEST(HistoryStoreTest, AnotherProgramsDatabaseIsRefusedAndLeftByteForByte) {
    const std::string our_id = std::to_string(HistoryStore::kApplicationId);
    const std::vector<ForeignDatabase> databases = {
        {"other tables", "CREATE TABLE readings (t TEXT, v REAL); INSERT INTO readings VALUES ('a', 1);",
         "it holds table 'readings'"},
        {"our table beside others",
         std::string(kUnmarkedHistory) + "CREATE TABLE notes (n); CREATE VIEW v AS SELECT 1;",
         "it holds table 'notes', view 'v'"},
        {"a history table of another shape",
         "CREATE TABLE history (id INTEGER PRIMARY KEY, value REAL); INSERT INTO history VALUES (1, 2);",
         "its history table has other columns (id INTEGER, value REAL)"},
        {"a history table with a column too few",
         "CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
         " stored_at TEXT NOT NULL);",
         "its history table has other columns (id INTEGER, data_id INTEGER, stored_at TEXT)"},
        {"our mark on a history table with a column too few",
         "CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
         " record BLOB NOT NULL); PRAGMA application_id = " + our_id + "; PRAGMA user_version = 1;",
         "its history table has other columns (id INTEGER, data_id INTEGER, record BLOB)"},
        {"a history table with a column too many",
         "CREATE TABLE history (id INTEGER PRIMARY KEY AUTOINCREMENT, data_id INTEGER NOT NULL,"
         " stored_at TEXT NOT NULL, record BLOB NOT NULL, extra TEXT);",
         "its history table has other columns"},
        {"our shape under another application id",
         std::string(kUnmarkedHistory) + "PRAGMA application_id = 1234;",
         "another program's application id 0x000004D2"},
        {"our shape with another program's schema version",
         std::string(kUnmarkedHistory) + "PRAGMA user_version = 7;",
         "another program's schema version 7"},
        {"our mark from a newer bench host",
         std::string(kUnmarkedHistory) + "PRAGMA application_id = " + our_id +
             "; PRAGMA user_version = 2;",
         "newer bench host (schema version 2)"},
        {"another program's database in write-ahead mode",
         "PRAGMA journal_mode = WAL; CREATE TABLE log (line TEXT); INSERT INTO log VALUES ('x');",
         "it holds table 'log'"},
    };
    for (const ForeignDatabase& database : databases) {
        ScratchDirectory scratch;
        const std::string path = scratch.File("other.db");
        WriteDatabase(path, database.sql);
        const std::string before = FileBytes(path);
        for (auto access : {HistoryStore::Access::kReadWrite, HistoryStore::Access::kReadOnly}) {
            const std::string refusal = Refusal(path, access);
            EXPECT_NE(refusal.find("history file " + path + " is not a bench history: "),
                      std::string::npos)
                << database.what << ": " << refusal;
            EXPECT_NE(refusal.find(database.reason), std::string::npos)
                << database.what << ": " << refusal;
        }
        EXPECT_TRUE(FileBytes(path) == before) << database.what << " was changed";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()),
                                std::filesystem::directory_iterator()),
                  1)
            << database.what << ": no journal is left beside it";
    }
}

// A connection that writes folds its journal back into the file when it
// closes; another program's database in the middle of its own work must not
// be touched even that way.
TEST(HistoryStoreTest, AForeignDatabaseWithAnOpenWriteAheadJournalStaysAsItIs) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("busy.db");
    sqlite3* owner = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &owner), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(owner,
                           "PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0;"
                           "CREATE TABLE log (line TEXT); INSERT INTO log VALUES ('kept');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string file_before = FileBytes(path);
    const std::string journal_before = FileBytes(path + "-wal");
    ASSERT_FALSE(journal_before.empty());

    EXPECT_NE(Refusal(path, HistoryStore::Access::kReadWrite).find("it holds table 'log'"),
              std::string::npos);
    EXPECT_TRUE(FileBytes(path) == file_before);
    EXPECT_TRUE(FileBytes(path + "-wal") == journal_before);
    sqlite3_close(owner);
}

TEST(HistoryStoreTest, NewAndEarlierHistoriesAreMarkedAndKeptInTheWriteAheadJournal) {
    ScratchDirectory scratch;
    const std::string fresh = scratch.File("fresh.sqlite");
    const std::string earlier = scratch.File("earlier.sqlite");
    const std::string empty = scratch.File("empty.sqlite");
    WriteDatabase(earlier, std::string(kUnmarkedHistory) +
                               "INSERT INTO history (data_id, stored_at, record) "
                               "VALUES (7, '2024-05-01 10:00:00.000', zeroblob(59));");
    std::ofstream(empty).close();

    // Reading an earlier history takes it as it is and leaves it unmarked.
    const std::string earlier_bytes = FileBytes(earlier);
    EXPECT_EQ(HistoryStore(earlier, HistoryStore::Access::kReadOnly).Count(), 1);
    EXPECT_TRUE(FileBytes(earlier) == earlier_bytes);
    EXPECT_EQ(Refusal(empty, HistoryStore::Access::kReadOnly),
              "history file " + empty + " is not a bench history: it holds no history table; "
              "it is left as it is");

    for (const std::string& path : {fresh, earlier, empty}) {
        {
            HistoryStore store(path, HistoryStore::Access::kReadWrite);
            store.Append(7, "2024-05-01 10:00:01.000", Record(9).data(), 59);
        }
        EXPECT_EQ(QueryText(path, "PRAGMA application_id"),
                  std::to_string(HistoryStore::kApplicationId))
            << path;
        EXPECT_EQ(QueryText(path, "PRAGMA user_version"), "1") << path;
        EXPECT_EQ(QueryText(path, "PRAGMA journal_mode"), "wal") << path;
        HistoryStore again(path, HistoryStore::Access::kReadWrite);
        EXPECT_EQ(again.Newest(7)->record, Record(9)) << path;
    }
    EXPECT_EQ(HistoryStore(earlier, HistoryStore::Access::kReadOnly).Count(), 2)
        << "the earlier record is kept";
}

// Another program's write transaction is waited out, not taken as the end
// of the run, even past one wait of SQLite's (5 s); a reader never has to be.
TEST(HistoryStoreTest, AWriteWaitsForAnotherProgramsWriterAndPassesReaders) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    HistoryStore store(path, HistoryStore::Access::kReadWrite);
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);

    ASSERT_EQ(sqlite3_exec(other, "BEGIN; SELECT COUNT(*) FROM history;", nullptr, nullptr, nullptr),
              SQLITE_OK);
    store.Append(7, "2024-05-01 10:00:00.000", Record(1).data(), 59);
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);

    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([other] {
        std::this_thread::sleep_for(std::chrono::seconds(7));
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    EXPECT_NO_THROW(store.Append(7, "2024-05-01 10:00:01.000", Record(2).data(), 59));
    release.join();
    sqlite3_close(other);
    EXPECT_EQ(store.Count(), 2);
}

// A stop while another program holds the file locked ends the wait within
// a few of its checks, whether the lock is met when the history is opened
// or when a record is written; the record is not stored.
TEST(HistoryStoreTest, AStopEndsTheWaitForAnotherProgramsLock) {
    for (const bool at_open : {true, false}) {
        ScratchDirectory scratch;
        const std::string path = scratch.File("history.sqlite");
        std::atomic<bool> stop{false};
        const HistoryStore::StopCheck stop_requested = [&stop] { return stop.load(); };
        std::unique_ptr<HistoryStore> store;
        if (!at_open)
            store = std::make_unique<HistoryStore>(path, HistoryStore::Access::kReadWrite,
                                                   stop_requested);
        else
            HistoryStore created(path, HistoryStore::Access::kReadWrite);  // a history to open
        HeldWriteLock lock(path);
        ASSERT_TRUE(lock.Held());
        std::thread stopper([&stop] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stop = true;
        });
        const auto start = std::chrono::steady_clock::now();
        try {
            if (at_open)
                store = std::make_unique<HistoryStore>(path, HistoryStore::Access::kReadWrite,
                                                       stop_requested);
            else
                store->Append(7, "2024-05-01 10:00:00.000", Record(1).data(), 59);
            ADD_FAILURE() << "no stop at open " << at_open;
        } catch (const StopRequested& stopped) {
            EXPECT_EQ(std::string(stopped.what()),
                      "while waiting for history file " + path + ", which another program holds locked");
        }
        stopper.join();
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(300)) << "it waited for the lock";
        EXPECT_LT(waited, std::chrono::milliseconds(800)) << "at open " << at_open;
        lock.Release();
        EXPECT_EQ(HistoryStore(path, HistoryStore::Access::kReadOnly).Count(), 0);
    }
}

TEST(HistoryStoreTest, PlacesThatCannotHoldAHistoryAreNamedBeforeAnythingIsCreated) {
    ScratchDirectory scratch;
    std::filesystem::create_directory(scratch.File("folder"));
    std::ofstream(scratch.File("plain")) << "x";
    const std::vector<std::pair<std::string, std::string>> places = {
        {scratch.File("folder"), "history file " + scratch.File("folder") + " is a directory"},
        {scratch.File("none/history.sqlite"),
         "history file " + scratch.File("none/history.sqlite") + ": directory " +
             scratch.File("none") + " does not exist"},
        {scratch.File("plain/history.sqlite"), "a folder on its path is a file"},
        {"/dev/null", "history file /dev/null is not a regular file"},
        {"", "no history file named"},
    };
    for (const auto& [path, message] : places) {
        EXPECT_NE(Refusal(path, HistoryStore::Access::kReadWrite).find(message), std::string::npos)
            << path << ": " << Refusal(path, HistoryStore::Access::kReadWrite);
        EXPECT_NE(Refusal(path, HistoryStore::Access::kReadOnly), "") << path;
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.File("none")));
    EXPECT_EQ(FileBytes(scratch.File("plain")), "x");
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));
}

// Runs `attempt` in a child process as an ordinary user (root passes every
// permission check) and returns what it wrote to the pipe.
std::string AsOrdinaryUser(const std::function<std::string()>& attempt) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        return "(no pipe)";
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        constexpr uid_t kNobody = 65534;
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 ||
                               setuid(kNobody) != 0))
            _exit(2);
        const std::string result = attempt();
        const ssize_t written = write(pipe_ends[1], result.data(), result.size());
        _exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    close(pipe_ends[1]);
    std::string result;
    char buffer[512];
    for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
        result.append(buffer, static_cast<std::size_t>(got));
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    return result;
}

TEST(HistoryStoreTest, AReadOnlyFileOrDirectoryIsNamedAsTheCause) {
    ScratchDirectory scratch;
    const std::string file = scratch.File("history.sqlite");
    HistoryStore(file, HistoryStore::Access::kReadWrite).Append(7, "t", Record(1).data(), 59);
    std::filesystem::create_directory(scratch.File("locked"));
    chmod(scratch.Path().c_str(), 0755);
    chmod(file.c_str(), 0444);
    chmod(scratch.File("locked").c_str(), 0555);
    const std::string before = FileBytes(file);

    const std::string read_only_file = AsOrdinaryUser([&] {
        return Refusal(file, HistoryStore::Access::kReadWrite);
    });
    EXPECT_EQ(read_only_file.rfind("history file " + file + " is read-only", 0), 0u)
        << read_only_file;
    const std::string locked = scratch.File("locked/history.sqlite");
    const std::string read_only_directory = AsOrdinaryUser([&] {
        return Refusal(locked, HistoryStore::Access::kReadWrite);
    });
    EXPECT_EQ(read_only_directory, "history file " + locked + ": directory " +
                                       scratch.File("locked") +
                                       " is not writable (SQLite keeps the file's journal beside it)");
    EXPECT_EQ(AsOrdinaryUser([&] {
                  return std::to_string(HistoryStore(file, HistoryStore::Access::kReadOnly).Count());
              }),
              "1")
        << "a read-only history can still be read";
    EXPECT_TRUE(FileBytes(file) == before);
    EXPECT_FALSE(std::filesystem::exists(locked));
}


// Row n is of data id 7, 9 or 3 in turn, its record filled with n's low byte.
HistoryRow RowOfDevices(std::int64_t n) {
    static const std::uint32_t kIds[] = {7, 9, 3};
    return HistoryRow{0, kIds[n % 3], "2024-05-01 10:00:00.000",
                      Record(static_cast<unsigned char>(n))};
}

TEST(HistoryStoreTest, RowsComeOneAtATimeOldestFirstForAllOrOneDevice) {
    ScratchDirectory scratch;
    const std::string path = scratch.File("history.sqlite");
    WriteBulkHistory(path, 30, RowOfDevices);
    HistoryStore store(path, HistoryStore::Access::kReadOnly);
    EXPECT_EQ(store.DataIds(), (std::vector<std::uint32_t>{3, 7, 9}));

    const struct {
        std::optional<std::uint32_t> data_id;
        int stop_after;  // 0: all
        std::vector<unsigned char> fills;  // each row's record fill, in the order handed over
    } cases[] = {
        {std::nullopt, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                           20, 21, 22, 23, 24, 25, 26, 27, 28, 29}},
        {std::nullopt, 4, {0, 1, 2, 3}},
        {7u, 0, {0, 3, 6, 9, 12, 15, 18, 21, 24, 27}},
        {3u, 2, {2, 5}},
        {8u, 0, {}},
    };
    for (const auto& c : cases) {
        std::vector<unsigned char> fills;
        std::int64_t last_id = 0;
        store.ForEachRow(c.data_id, [&](const HistoryRow& row) {
            EXPECT_GT(row.row_id, last_id);
            EXPECT_TRUE(!c.data_id || row.data_id == *c.data_id);
            last_id = row.row_id;
            fills.push_back(row.record.at(0));
            return c.stop_after == 0 || static_cast<int>(fills.size()) < c.stop_after;
        });
        EXPECT_EQ(fills, c.fills) << (c.data_id ? std::to_string(*c.data_id) : "all");
    }

    ScratchDirectory empty_scratch;
    const std::string empty = empty_scratch.File("empty.sqlite");
    WriteBulkHistory(empty, 0, RowOfDevices);
    EXPECT_TRUE(HistoryStore(empty, HistoryStore::Access::kReadOnly).DataIds().empty());
}

}  // namespace
