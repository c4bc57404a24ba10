#pragma once

#include <sqlite3.h>

#include <string>

// Another program's write transaction on an SQLite database, as the sqlite3
// shell holds it after BEGIN IMMEDIATE: no one else writes the file until
// Release() or the end of the test. Taking it waits a few seconds for a
// writer already at work.
class HeldWriteLock {
public:
    explicit HeldWriteLock(const std::string& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK)
            return;
        sqlite3_busy_timeout(db_, 5000);
        held_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~HeldWriteLock() {
        Release();
        sqlite3_close(db_);
    }
    HeldWriteLock(const HeldWriteLock&) = delete;
    HeldWriteLock& operator=(const HeldWriteLock&) = delete;

    bool Held() const { return held_; }
    void Release() {
        if (held_)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        held_ = false;
    }

private:
    sqlite3* db_ = nullptr;
    bool held_ = false;
};
