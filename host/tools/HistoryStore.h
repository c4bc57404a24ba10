#pragma once

#include "HistoryRow.h"

#include <cstddef>
#include <cstdint>
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
// Every record is one statement, so the file holds whole records only, even
// when the program is stopped between two of them. Every failure is thrown
// as BenchError (history) with SQLite's own words.
class HistoryStore {
public:
    enum class Access { kReadWrite, kReadOnly };

    // Read-write creates the file and the table when missing and makes sure
    // the file can be written; read-only never creates anything.
    HistoryStore(const std::string& path, Access access);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    void Append(std::uint32_t data_id, const std::string& stored_at, const unsigned char* record,
                std::size_t len);

    // The most recently stored record of one device, if any.
    std::optional<HistoryRow> Newest(std::uint32_t data_id);
    // Every record, oldest first.
    std::vector<HistoryRow> All();
    std::int64_t Count();

    const std::string& Path() const { return path_; }

private:
    struct StatementDeleter {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

    void CreateTable();
    void Execute(const char* sql);
    Statement Prepare(const char* sql);
    [[noreturn]] void Fail(const std::string& doing) const;
    static HistoryRow ReadRow(sqlite3_stmt* statement);

    std::string path_;
    sqlite3* db_ = nullptr;
    Statement insert_;
};
