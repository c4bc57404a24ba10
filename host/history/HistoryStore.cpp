#include "HistoryStore.h"

#include "BenchError.h"
#include "HistoryPlace.h"
#include "StopRequested.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

const char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS history ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_id INTEGER NOT NULL,"
    " stored_at TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS history_by_device ON history (data_id, id);";

// Another program's write transaction is waited for this long at each try,
// and a record is tried this many times, before the run gives up. The wait
// looks again every few milliseconds, and at a stop signal each time.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kWriteAttempts = 3;
constexpr int kLockCheckMs = 10;

struct Column {
    const char* name;
    const char* type;
    int not_null;
    int primary_key;
};

const Column kHistoryColumns[] = {
    {"id", "INTEGER", 0, 1},
    {"data_id", "INTEGER", 1, 0},
    {"stored_at", "TEXT", 1, 0},
    {"record", "BLOB", 1, 0},
};

bool IsNonEmptyFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

// The database header's read and write versions are 2 in write-ahead mode.
bool InWriteAheadMode(const std::string& path) {
    char header[20] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(header, sizeof header) &&
           std::memcmp(header, "SQLite format 3", 16) == 0 && header[18] == 2 && header[19] == 2;
}

std::string Text(sqlite3_stmt* statement, int column) {
    const unsigned char* text = sqlite3_column_text(statement, column);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

std::string Hex(std::int64_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value & 0xFFFFFFFF));
    return text;
}

}  // namespace

void HistoryStore::StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

HistoryStore::HistoryStore(const std::string& path, Access access, StopCheck stop_requested)
    : path_(path), stop_requested_(std::move(stop_requested)) {
    if (access == Access::kReadWrite)
        HistoryPlace::CheckWritable(path);
    else
        HistoryPlace::CheckReadable(path);
    try {
        // An existing file is judged through a read-only connection first:
        // even a connection that only reads may change a database's bytes
        // when it closes (it folds the write-ahead journal back in).
        if (IsNonEmptyFile(path)) {
            OpenForReading();
            Inspect();
            Close();
        }
        if (access == Access::kReadWrite) {
            Open(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            MakeReady();
            // Set for each connection: every commit synced before it returns.
            Execute("PRAGMA synchronous = FULL");
            insert_ = Prepare("INSERT INTO history (data_id, stored_at, record) VALUES (?, ?, ?)");
            begin_ = Prepare("BEGIN IMMEDIATE");
            commit_ = Prepare("COMMIT");
        } else {
            // Our own file: where we may write, the journal is folded back
            // in and removed at close; nothing else is written.
            if (MayWriteBeside(path))
                Open(SQLITE_OPEN_READWRITE);
            else
                OpenForReading();
            Execute("PRAGMA query_only = ON");
            if (Inspect() == Contents::kNothing)
                FailForeign("it holds no history table");
        }
    } catch (...) {
        Close();
        throw;
    }
}

HistoryStore::~HistoryStore() {
    Close();
}

void HistoryStore::Open(int flags) {
    Open(flags, path_);
}

void HistoryStore::Open(int flags, const std::string& name) {
    if (sqlite3_open_v2(name.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        if (db_ == nullptr)
            throw BenchError(ExitCode::kHistory,
                             "cannot open history file " + path_ + ": out of memory");
        Fail("cannot open history file ");
    }
    sqlite3_busy_handler(db_, &HistoryStore::WaitWhileLocked, this);
}

// SQLite's busy handler: true to look again. `calls` is 0 at the first
// call of each wait.
int HistoryStore::WaitWhileLocked(void* store, int calls) {
    auto& self = *static_cast<HistoryStore*>(store);
    const auto now = std::chrono::steady_clock::now();
    if (calls == 0)
        self.locked_since_ = now;
    if (self.stop_requested_ && self.stop_requested_()) {
        self.gave_up_for_stop_ = true;
        return 0;
    }
    if (now - self.locked_since_ >= std::chrono::milliseconds(kBusyTimeoutMs))
        return 0;
    sqlite3_sleep(kLockCheckMs);
    return 1;
}

// A reader of a database in write-ahead journal mode keeps a shared-memory
// file and an empty journal beside it, and a reader cannot remove them when
// it closes: looking into a file would leave files behind. Where neither
// is there, no program has the database open and the file holds all of it,
// so it is read as it stands, without either.
void HistoryStore::OpenForReading() {
    if (!InWriteAheadMode(path_) || Exists(path_ + "-shm") || Exists(path_ + "-wal")) {
        Open(SQLITE_OPEN_READONLY);
        return;
    }
    std::string uri = "file:";
    for (const char c : path_) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            uri += escaped;
        } else {
            uri += c;
        }
    }
    Open(SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, uri + "?immutable=1");
}

bool HistoryStore::MayWriteBeside(const std::string& path) {
    return ::access(path.c_str(), W_OK) == 0 &&
           ::access(HistoryPlace::DirectoryOf(path).c_str(), W_OK | X_OK) == 0;
}

void HistoryStore::Close() {
    insert_.reset();
    begin_.reset();
    commit_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
}

// Taking the write lock first proves at start that the file can be written,
// and no other writer can come between the check and the marking.
void HistoryStore::MakeReady() {
    Execute("BEGIN IMMEDIATE");
    try {
        if (Inspect() != Contents::kMarkedHistory) {
            Execute(kCreateTable);
            const std::string mark = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                     "; PRAGMA user_version = " + std::to_string(kSchemaVersion);
            Execute(mark.c_str());
        }
        Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    UseWriteAheadJournal();
}

// Readers of a write-ahead journal work on a snapshot and never hold up the
// writer, so someone looking into the file during a run cannot stop it. The
// mode is kept in the file.
void HistoryStore::UseWriteAheadJournal() {
    Statement mode = Prepare("PRAGMA journal_mode = WAL");
    if (sqlite3_step(mode.get()) != SQLITE_ROW)
        Fail("cannot use history file ");
}

// What the database holds; throws (history) when it is not a bench history.
HistoryStore::Contents HistoryStore::Inspect() {
    const std::int64_t application_id = PragmaNumber("PRAGMA application_id");
    const std::int64_t version = PragmaNumber("PRAGMA user_version");
    if (application_id != 0 && application_id != kApplicationId)
        FailForeign("it carries another program's application id " + Hex(application_id));
    const std::string foreign = ForeignObjects();
    if (!foreign.empty())
        FailForeign("it holds " + foreign);
    const bool has_history = HistoryTableHasOurShape();

    if (application_id == kApplicationId) {
        if (version > kSchemaVersion)
            FailForeign("it was written by a newer bench host (schema version " +
                        std::to_string(version) + ")");
        return has_history ? Contents::kMarkedHistory : Contents::kNothing;
    }
    // Histories written before files were marked carry neither mark.
    if (version != 0)
        FailForeign("it carries another program's schema version " + std::to_string(version));
    return has_history ? Contents::kUnmarkedHistory : Contents::kNothing;
}

// Everything in the schema beyond the history table, its index and SQLite's
// own counter table, as "table 'a', index 'b'".
std::string HistoryStore::ForeignObjects() {
    Statement query = Prepare("SELECT type, name FROM sqlite_schema ORDER BY rowid");
    std::string foreign;
    int count = 0;
    int result;
    while ((result = sqlite3_step(query.get())) == SQLITE_ROW) {
        const std::string type = Text(query.get(), 0);
        const std::string name = Text(query.get(), 1);
        if ((type == "table" && (name == "history" || name == "sqlite_sequence")) ||
            (type == "index" && name == "history_by_device"))
            continue;
        if (++count <= 3)
            foreign += (foreign.empty() ? "" : ", ") + type + " '" + name + "'";
    }
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
    if (count > 3)
        foreign += " and " + std::to_string(count - 3) + " more";
    return foreign;
}

// False when there is no history table; throws when there is one of
// another shape.
bool HistoryStore::HistoryTableHasOurShape() {
    Statement query = Prepare("SELECT name, type, \"notnull\", pk FROM pragma_table_info('history')");
    std::string found;
    bool same = true;
    std::size_t index = 0;
    int result;
    while ((result = sqlite3_step(query.get())) == SQLITE_ROW) {
        const std::string name = Text(query.get(), 0);
        const std::string type = Text(query.get(), 1);
        found += (found.empty() ? "" : ", ") + name + (type.empty() ? "" : " " + type);
        const Column* expected = index < std::size(kHistoryColumns) ? &kHistoryColumns[index] : nullptr;
        same = same && expected != nullptr && name == expected->name && type == expected->type &&
               sqlite3_column_int(query.get(), 2) == expected->not_null &&
               sqlite3_column_int(query.get(), 3) == expected->primary_key;
        ++index;
    }
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
    if (index == 0)
        return false;
    if (!same || index != std::size(kHistoryColumns))
        FailForeign("its history table has other columns (" + found + ")");
    return true;
}

std::int64_t HistoryStore::PragmaNumber(const char* sql) {
    Statement query = Prepare(sql);
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        Fail("cannot use history file ");
    return sqlite3_column_int64(query.get(), 0);
}

void HistoryStore::Execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail("cannot use history file ");
}

HistoryStore::Statement HistoryStore::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK)
        Fail("cannot use history file ");
    return Statement(statement);
}

void HistoryStore::Fail(const std::string& doing) const {
    const int code = sqlite3_errcode(db_);
    if (gave_up_for_stop_ && (code == SQLITE_BUSY || code == SQLITE_LOCKED))
        GiveUpForStop();
    std::string cause = sqlite3_errmsg(db_);
    if (code == SQLITE_READONLY)
        cause = "the file cannot be written (" + cause + ")";
    else if ((code == SQLITE_CANTOPEN || code == SQLITE_IOERR) && sqlite3_system_errno(db_) != 0)
        cause += " (" + std::string(std::strerror(sqlite3_system_errno(db_))) + ")";
    throw BenchError(ExitCode::kHistory, doing + path_ + ": " + cause);
}

void HistoryStore::GiveUpForStop() const {
    throw StopRequested("while waiting for history file " + path_ +
                        ", which another program holds locked");
}

void HistoryStore::FailForeign(const std::string& reason) const {
    throw BenchError(ExitCode::kHistory, "history file " + path_ +
                                             " is not a bench history: " + reason +
                                             "; it is left as it is");
}

void HistoryStore::Append(std::uint32_t data_id, const std::string& stored_at,
                          const unsigned char* record, std::size_t len) {
    Insert(data_id, stored_at, record, len);
}

// The write lock is taken first, so the inserts and the commit never wait.
void HistoryStore::AppendAll(const std::vector<NewRecord>& records) {
    if (records.empty())
        return;
    StepWaitingForLock(begin_.get(), "cannot write to history file ");
    try {
        for (const NewRecord& record : records)
            Insert(record.data_id, record.stored_at, record.bytes.data(), record.bytes.size());
        const int result = sqlite3_step(commit_.get());
        sqlite3_reset(commit_.get());
        if (result != SQLITE_DONE)
            Fail("cannot write to history file ");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void HistoryStore::Insert(std::uint32_t data_id, const std::string& stored_at,
                          const unsigned char* record, std::size_t len) {
    sqlite3_stmt* insert = insert_.get();
    sqlite3_reset(insert);
    sqlite3_bind_int64(insert, 1, data_id);
    sqlite3_bind_text(insert, 2, stored_at.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, record, static_cast<int>(len), SQLITE_TRANSIENT);
    StepWaitingForLock(insert, "cannot write to history file ");
}

// Steps a statement that takes the write lock, waiting for another
// program's writer each try and trying again, a bounded number of times.
void HistoryStore::StepWaitingForLock(sqlite3_stmt* statement, const char* doing) {
    gave_up_for_stop_ = false;
    for (int attempt = 1;; ++attempt) {
        const int result = sqlite3_step(statement);
        sqlite3_reset(statement);
        if (result == SQLITE_DONE)
            return;
        const bool busy = result == SQLITE_BUSY || result == SQLITE_LOCKED;
        if (!busy)
            Fail(doing);
        if (gave_up_for_stop_ || (stop_requested_ && stop_requested_()))
            GiveUpForStop();  // also when SQLite did not wait
        if (attempt == kWriteAttempts)
            throw BenchError(ExitCode::kHistory,
                             doing + path_ + ": another program kept it locked for " +
                                 std::to_string(kWriteAttempts * kBusyTimeoutMs / 1000) + " s");
    }
}

HistoryRow HistoryStore::ReadRow(sqlite3_stmt* statement) {
    HistoryRow row;
    ReadRowInto(statement, row);
    return row;
}

// Into the row's own buffers, which keep their room from one row to the next.
void HistoryStore::ReadRowInto(sqlite3_stmt* statement, HistoryRow& row) {
    row.row_id = sqlite3_column_int64(statement, 0);
    row.data_id = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 1));
    const unsigned char* text = sqlite3_column_text(statement, 2);
    if (text != nullptr)
        row.stored_at.assign(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, 2)));
    else
        row.stored_at.clear();
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 3));
    row.record.assign(blob, blob + sqlite3_column_bytes(statement, 3));
}

std::optional<HistoryRow> HistoryStore::Newest(std::uint32_t data_id) {
    Refused refused;
    return Newest(data_id, [](const HistoryRow&) { return true; }, refused);
}

std::optional<HistoryRow> HistoryStore::Newest(
    std::uint32_t data_id, const std::function<bool(const HistoryRow&)>& usable,
    Refused& refused) {
    Statement query = Prepare(
        "SELECT id, data_id, stored_at, record FROM history WHERE data_id = ? ORDER BY id DESC");
    sqlite3_bind_int64(query.get(), 1, data_id);
    HistoryRow row;
    int result;
    while ((result = sqlite3_step(query.get())) == SQLITE_ROW) {
        ReadRowInto(query.get(), row);
        if (usable(row))
            return row;
        ++refused.count;
        if (refused.first.size() < Refused::kKept)
            refused.first.push_back(row);
    }
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
    return std::nullopt;
}

std::vector<HistoryRow> HistoryStore::All() {
    std::vector<HistoryRow> rows;
    ForEachRow(std::nullopt, [&rows](const HistoryRow& row) {
        rows.push_back(row);
        return true;
    });
    return rows;
}

std::int64_t HistoryStore::Count() {
    Statement query = Prepare("SELECT COUNT(*) FROM history");
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        Fail("cannot read history file ");
    return sqlite3_column_int64(query.get(), 0);
}

// One device's rows come through its index, in the order of their ids.
void HistoryStore::ForEachRow(std::optional<std::uint32_t> data_id,
                              const std::function<bool(const HistoryRow&)>& visit) {
    Statement query =
        data_id ? Prepare("SELECT id, data_id, stored_at, record FROM history WHERE data_id = ? "
                          "ORDER BY id")
                : Prepare("SELECT id, data_id, stored_at, record FROM history ORDER BY id");
    if (data_id)
        sqlite3_bind_int64(query.get(), 1, *data_id);
    HistoryRow row;
    int result;
    while ((result = sqlite3_step(query.get())) == SQLITE_ROW) {
        ReadRowInto(query.get(), row);
        if (!visit(row))
            return;
    }
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
}

// Each step finds the next larger data id in the index, so a history of
// millions of rows of a few devices takes a few look-ups.
std::vector<std::uint32_t> HistoryStore::DataIds() {
    Statement query = Prepare(
        "WITH RECURSIVE ids(data_id) AS ("
        " SELECT MIN(data_id) FROM history"
        " UNION ALL"
        " SELECT (SELECT MIN(data_id) FROM history WHERE data_id > ids.data_id) FROM ids"
        " WHERE ids.data_id IS NOT NULL)"
        " SELECT data_id FROM ids WHERE data_id IS NOT NULL");
    std::vector<std::uint32_t> ids;
    int result;
    while ((result = sqlite3_step(query.get())) == SQLITE_ROW)
        ids.push_back(static_cast<std::uint32_t>(sqlite3_column_int64(query.get(), 0)));
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
    return ids;
}
