#include "Gnuplot.h"

#include "BenchError.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

extern char** environ;

namespace {

[[noreturn]] void Fail(const std::string& message) {
    throw BenchError(ExitCode::kPlot, message);
}

// A private folder for the script and gnuplot's messages.
std::string MakeWorkFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bench-plot-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        Fail(std::string("cannot make a folder for gnuplot's script: ") + std::strerror(errno));
    return pattern;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// gnuplot's messages on one line: its lines joined, without the blank ones
// and the lines that only point a caret at the script text above them.
std::string OneLine(const std::string& messages) {
    std::istringstream lines(messages);
    std::string line;
    std::string joined;
    while (std::getline(lines, line)) {
        if (line.find_first_not_of(" \t^") == std::string::npos)
            continue;
        const std::size_t start = line.find_first_not_of(" \t");
        joined += (joined.empty() ? "" : " | ") + line.substr(start);
    }
    return joined.empty() ? "no message" : joined;
}

// Starts the program with the script as its one argument, `image_fd` as its
// standard output and `errors_path` as its standard error, and waits for it.
int Run(const std::string& program, const std::string& script_path, int image_fd,
        const std::string& errors_path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, image_fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string name = program;
    std::string script = script_path;
    char* argv[] = {name.data(), script.data(), nullptr};
    pid_t pid = 0;
    const int started = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (started == ENOENT)
        Fail(program + " is not installed (Debian package gnuplot-nox)");
    if (started != 0)
        Fail("cannot run " + program + ": " + std::strerror(started));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void CheckOutcome(const std::string& program, int status, int image_fd,
                  const std::string& errors_path) {
    if (WIFSIGNALED(status))
        Fail(program + " ended by signal " + std::to_string(WTERMSIG(status)) + ": " +
             OneLine(ReadFile(errors_path)));
    if (WEXITSTATUS(status) != 0)
        Fail(program + " failed (exit " + std::to_string(WEXITSTATUS(status)) +
             "): " + OneLine(ReadFile(errors_path)));
    struct stat image {};
    if (fstat(image_fd, &image) != 0 || image.st_size == 0)
        Fail(program + " wrote no image: " + OneLine(ReadFile(errors_path)));
}

void WriteScript(const std::string& path, const std::string& script) {
    std::ofstream file(path);
    file << script;
    file.close();
    if (!file)
        Fail("cannot write gnuplot's script " + path);
}

void Rename(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0)
        Fail("cannot write plot file " + to + ": " + std::strerror(errno));
}

// A new file beside the image, made for this drawing alone: a file of that
// name that was already there is never written over.
int MakePartial(const std::string& image_path, std::string& partial) {
    for (unsigned attempt = 0;; ++attempt) {
        partial =
            image_path + ".partial." + std::to_string(getpid()) + "." + std::to_string(attempt);
        const int fd = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST || attempt == 100)
            return fd;
    }
}

}  // namespace

Gnuplot::Gnuplot(std::string program) : program_(std::move(program)) {}

void Gnuplot::Draw(const std::string& script, const std::string& image_path) const {
    std::string partial;
    const int image_fd = MakePartial(image_path, partial);
    if (image_fd < 0)
        Fail("cannot write plot file " + image_path + ": " + std::strerror(errno));
    std::string folder;
    try {
        folder = MakeWorkFolder();
        const std::string script_path = folder + "/trend.gp";
        const std::string errors_path = folder + "/gnuplot-errors.txt";
        WriteScript(script_path, script);
        const int status = Run(program_, script_path, image_fd, errors_path);
        CheckOutcome(program_, status, image_fd, errors_path);
        Rename(partial, image_path);
    } catch (...) {
        close(image_fd);
        unlink(partial.c_str());
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        throw;
    }
    close(image_fd);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}
