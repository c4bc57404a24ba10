#include "HistoryPlace.h"

#include "BenchError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

[[noreturn]] void Refuse(const std::string& what) {
    throw BenchError(ExitCode::kHistory, what);
}

std::string Quoted(const std::string& path) {
    return "history file " + path;
}

// Checks the file itself when it exists; false when it does not.
bool CheckExistingFile(const std::string& path, int access_mode) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return false;
        if (errno == ENOTDIR)
            Refuse(Quoted(path) + ": a folder on its path is a file, not a directory");
        Refuse("cannot use " + Quoted(path) + ": " + std::strerror(errno));
    }
    if (S_ISDIR(status.st_mode))
        Refuse(Quoted(path) + " is a directory");
    if (!S_ISREG(status.st_mode))
        Refuse(Quoted(path) + " is not a regular file");
    if (::access(path.c_str(), access_mode) != 0) {
        const int error = errno;
        if (error == EROFS)
            Refuse(Quoted(path) + " is on a read-only file system");
        if ((access_mode & W_OK) != 0 && ::access(path.c_str(), R_OK) == 0)
            Refuse(Quoted(path) + " is read-only (" + std::strerror(error) + ")");
        Refuse(Quoted(path) + " cannot be read (" + std::strerror(error) + ")");
    }
    return true;
}

// SQLite creates the file, and its journal at every write, beside it.
void CheckDirectory(const std::string& path) {
    const std::string directory = HistoryPlace::DirectoryOf(path);
    struct stat status {};
    if (::stat(directory.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            Refuse(Quoted(path) + ": directory " + directory + " does not exist");
        Refuse(Quoted(path) + ": directory " + directory + ": " + std::strerror(errno));
    }
    if (!S_ISDIR(status.st_mode))
        Refuse(Quoted(path) + ": " + directory + " is not a directory");
    if (::access(directory.c_str(), W_OK | X_OK) != 0) {
        if (errno == EROFS)
            Refuse(Quoted(path) + ": directory " + directory + " is on a read-only file system");
        Refuse(Quoted(path) + ": directory " + directory +
               " is not writable (SQLite keeps the file's journal beside it)");
    }
}

}  // namespace

void HistoryPlace::CheckWritable(const std::string& path) {
    if (path.empty())
        Refuse("no history file named");
    CheckExistingFile(path, R_OK | W_OK);
    CheckDirectory(path);
}

void HistoryPlace::CheckReadable(const std::string& path) {
    if (path.empty())
        Refuse("no history file named");
    if (!CheckExistingFile(path, R_OK))
        Refuse(Quoted(path) + " does not exist");
}

std::string HistoryPlace::DirectoryOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}
