#pragma once

#include <functional>
#include <string>
#include <vector>

// A file a run writes (--stats-json, --plot), checked before anything is
// written, so that the bench host never destroys what the user owns: it may
// not be a file the run reads or keeps (compared as files, by device and
// inode, so through symbolic and hard links too; by their resolved names
// while either does not exist yet), and an existing file there is replaced
// only when it is empty or an earlier output of the same kind.
class OutputFile {
public:
    // A file the run reads or keeps: "the history file", "settings file".
    struct Kept {
        std::string what;
        std::string path;
    };
    // What the output is, in words ("a run's statistics"), and how to tell
    // an earlier one.
    struct Kind {
        std::string what;
        std::function<bool(const std::string& path)> recognise;
    };

    // Why `path` must not be written as an output of `kind`, as the end of a
    // sentence that starts with the path ("is the history file; it is left
    // as it is: name another file"); "" when it may. A directory is left to
    // the writer, which cannot make a file there.
    static std::string Problem(const std::string& path, const std::vector<Kept>& kept,
                               const Kind& kind);
    // Throws BenchError (usage) with "OPTION PATH <problem>" when there is one.
    static void Check(const std::string& option, const std::string& path,
                      const std::vector<Kept>& kept, const Kind& kind);
};
