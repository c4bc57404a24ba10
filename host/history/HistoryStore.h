#pragma once

#include "HistoryRow.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Device history in an SQLite database, one row per stored record:
//
//   CREATE TABLE history (
//     id        INTEGER PRIMARY KEY AUTOINCREMENT,
//     data_id   INTEGER NOT NULL,   -- the device's data id
//     stored_at TEXT NOT NULL,      -- local time the record was stored
//     record    BLOB NOT NULL)      -- the record's bytes as the device gave them
//
// Every record, or every group of records, is one transaction, so the file
// holds whole records only, even when the program is stopped between two of
// them. The file is marked as a bench history (application id, schema
// version) and kept in SQLite's write-ahead journal mode, so programs reading
// it never hold up a write. A writer syncs the journal at every commit
// (synchronous FULL): a committed transaction survives a power loss, and
// one cut short by it is rolled back when the file is next opened.
//
// A database that is not a bench history (another program's tables, a
// history table of another shape, another application id) is refused and
// left exactly as it was. A history written before files were marked, whose
// only contents are this table, is taken on and marked when opened for
// writing. Every failure is thrown as BenchError (history) naming its cause.
//
// Another program's lock on the file is waited for, a bounded time; a wait
// that `stop_requested` (when given) ends early throws StopRequested, and
// what was to be written is not.
class HistoryStore {
public:
    enum class Access { kReadWrite, kReadOnly };
    using StopCheck = std::function<bool()>;

    // "QHST" in the file header's application id field.
    static constexpr std::int32_t kApplicationId = 0x51485354;
    static constexpr int kSchemaVersion = 1;

    // Read-write creates the file and the table when missing and makes sure
    // the file can be written; read-only never creates or changes anything.
    HistoryStore(const std::string& path, Access access, StopCheck stop_requested = {});
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Waits for a writer of another program to finish, and tries again,
    // before it gives up.
    void Append(std::uint32_t data_id, const std::string& stored_at, const unsigned char* record,
                std::size_t len);

    struct NewRecord {
        std::uint32_t data_id;
        std::string stored_at;
        std::vector<unsigned char> bytes;
    };
    // Every record of the group, in its order, in one transaction: all of
    // them stored or none. Waits for another program's writer as Append does.
    void AppendAll(const std::vector<NewRecord>& records);

    // The most recently stored record of one device, if any.
    std::optional<HistoryRow> Newest(std::uint32_t data_id);
    // The newer rows of a device that Newest passed over: how many, and the
    // first few of them, newest first; however many there are, only those
    // few are kept.
    struct Refused {
        static constexpr std::size_t kKept = 3;
        std::int64_t count = 0;
        std::vector<HistoryRow> first;
    };
    // The most recently stored record of one device that `usable` accepts;
    // the newer rows it refused go to `refused`.
    std::optional<HistoryRow> Newest(std::uint32_t data_id,
                                     const std::function<bool(const HistoryRow&)>& usable,
                                     Refused& refused);
    // Every record, oldest first.
    std::vector<HistoryRow> All();
    std::int64_t Count();

    // Every record, or every record of one device, oldest first, handed to
    // `visit` one at a time as it is read, until `visit` returns false; the
    // row handed over is reused for the next one. Memory does not grow with
    // the history.
    void ForEachRow(std::optional<std::uint32_t> data_id,
                    const std::function<bool(const HistoryRow&)>& visit);
    // The data ids the history holds, ascending; a look-up per data id, not
    // a pass over the rows.
    std::vector<std::uint32_t> DataIds();

    const std::string& Path() const { return path_; }

private:
    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;
    enum class Contents { kNothing, kMarkedHistory, kUnmarkedHistory };

    void Open(int flags);
    void Open(int flags, const std::string& name);
    void OpenForReading();
    static bool MayWriteBeside(const std::string& path);
    void Close();
    Contents Inspect();
    std::string ForeignObjects();
    bool HistoryTableHasOurShape();
    void MakeReady();
    void UseWriteAheadJournal();
    std::int64_t PragmaNumber(const char* sql);
    void Execute(const char* sql);
    Statement Prepare(const char* sql);
    static int WaitWhileLocked(void* store, int calls);
    void StepWaitingForLock(sqlite3_stmt* statement, const char* doing);
    void Insert(std::uint32_t data_id, const std::string& stored_at, const unsigned char* record,
                std::size_t len);
    [[noreturn]] void Fail(const std::string& doing) const;
    [[noreturn]] void GiveUpForStop() const;
    [[noreturn]] void FailForeign(const std::string& reason) const;
    static HistoryRow ReadRow(sqlite3_stmt* statement);
    static void ReadRowInto(sqlite3_stmt* statement, HistoryRow& row);

    std::string path_;
    StopCheck stop_requested_;
    std::chrono::steady_clock::time_point locked_since_;
    bool gave_up_for_stop_ = false;
    sqlite3* db_ = nullptr;
    Statement insert_;
    Statement begin_;
    Statement commit_;
};
