#pragma once

#include "HistoryRow.h"
#include "HistoryStore.h"

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// A history of many rows in the bench host's own format, written in one
// transaction: HistoryStore makes and marks the file, then one connection
// inserts row(0) to row(count - 1) (their row ids are SQLite's).
inline void WriteBulkHistory(const std::string& path, std::int64_t count,
                             const std::function<HistoryRow(std::int64_t)>& row) {
    { HistoryStore made(path, HistoryStore::Access::kReadWrite); }
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO history (data_id, stored_at, record) VALUES (?, ?, ?)", -1,
                       &insert, nullptr);
    bool written = true;
    for (std::int64_t n = 0; n < count && written; ++n) {
        const HistoryRow made = row(n);
        sqlite3_bind_int64(insert, 1, made.data_id);
        sqlite3_bind_text(insert, 2, made.stored_at.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(insert, 3, made.record.data(), static_cast<int>(made.record.size()),
                          SQLITE_TRANSIENT);
        written = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    written = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && written;
    sqlite3_close(db);
    if (!written)
        throw std::runtime_error("cannot write the history " + path);
}
