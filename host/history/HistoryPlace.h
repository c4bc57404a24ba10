#pragma once

#include <string>

// Where a history file is to be kept, checked before SQLite opens it, so a
// history that cannot be used is refused at start with its cause in words
// (a missing directory, a read-only file) rather than SQLite's "unable to
// open database file" at the first record.
class HistoryPlace {
public:
    // Throws BenchError (history) unless `path` is, or can be created as, a
    // regular file that this process may read and write, in a directory
    // where SQLite can keep its journal beside it.
    static void CheckWritable(const std::string& path);
    // Throws BenchError (history) unless `path` is a readable regular file.
    static void CheckReadable(const std::string& path);

    // The directory that holds `path`: "." for a bare file name.
    static std::string DirectoryOf(const std::string& path);
};
