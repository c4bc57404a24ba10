#include "HistoryStore.h"

#include "BenchError.h"

#include <sqlite3.h>

namespace {

const char kCreateTable[] =
    "CREATE TABLE IF NOT EXISTS history ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " data_id INTEGER NOT NULL,"
    " stored_at TEXT NOT NULL,"
    " record BLOB NOT NULL);"
    "CREATE INDEX IF NOT EXISTS history_by_device ON history (data_id, id);";

constexpr int kBusyTimeoutMs = 2000;

}  // namespace

void HistoryStore::StatementDeleter::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

HistoryStore::HistoryStore(const std::string& path, Access access) : path_(path) {
    const int flags = access == Access::kReadOnly ? SQLITE_OPEN_READONLY
                                                  : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw BenchError(ExitCode::kHistory, "cannot open history file " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    try {
        if (access == Access::kReadWrite) {
            CreateTable();
            insert_ = Prepare("INSERT INTO history (data_id, stored_at, record) VALUES (?, ?, ?)");
        } else {
            Prepare("SELECT 1 FROM history LIMIT 1");
        }
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

HistoryStore::~HistoryStore() {
    insert_.reset();
    sqlite3_close(db_);
}

// Creating the table takes the write lock even when the table is there,
// which proves at start that the file can be written.
void HistoryStore::CreateTable() {
    Execute("BEGIN IMMEDIATE");
    try {
        Execute(kCreateTable);
        Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
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
    throw BenchError(ExitCode::kHistory, doing + path_ + ": " + sqlite3_errmsg(db_));
}

void HistoryStore::Append(std::uint32_t data_id, const std::string& stored_at,
                          const unsigned char* record, std::size_t len) {
    sqlite3_stmt* insert = insert_.get();
    sqlite3_reset(insert);
    sqlite3_bind_int64(insert, 1, data_id);
    sqlite3_bind_text(insert, 2, stored_at.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 3, record, static_cast<int>(len), SQLITE_TRANSIENT);
    const int result = sqlite3_step(insert);
    sqlite3_reset(insert);
    if (result != SQLITE_DONE)
        Fail("cannot write to history file ");
}

HistoryRow HistoryStore::ReadRow(sqlite3_stmt* statement) {
    HistoryRow row;
    row.row_id = sqlite3_column_int64(statement, 0);
    row.data_id = static_cast<std::uint32_t>(sqlite3_column_int64(statement, 1));
    const unsigned char* text = sqlite3_column_text(statement, 2);
    row.stored_at = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(statement, 3));
    row.record.assign(blob, blob + sqlite3_column_bytes(statement, 3));
    return row;
}

std::optional<HistoryRow> HistoryStore::Newest(std::uint32_t data_id) {
    Statement query = Prepare(
        "SELECT id, data_id, stored_at, record FROM history WHERE data_id = ? "
        "ORDER BY id DESC LIMIT 1");
    sqlite3_bind_int64(query.get(), 1, data_id);
    const int result = sqlite3_step(query.get());
    if (result == SQLITE_ROW)
        return ReadRow(query.get());
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
    return std::nullopt;
}

std::vector<HistoryRow> HistoryStore::All() {
    Statement query = Prepare("SELECT id, data_id, stored_at, record FROM history ORDER BY id");
    std::vector<HistoryRow> rows;
    int result;
    while ((result = sqlite3_step(query.get())) == SQLITE_ROW)
        rows.push_back(ReadRow(query.get()));
    if (result != SQLITE_DONE)
        Fail("cannot read history file ");
    return rows;
}

std::int64_t HistoryStore::Count() {
    Statement query = Prepare("SELECT COUNT(*) FROM history");
    if (sqlite3_step(query.get()) != SQLITE_ROW)
        Fail("cannot read history file ");
    return sqlite3_column_int64(query.get(), 0);
}
