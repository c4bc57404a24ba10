#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// What a tool run to its end left: its exit status and what it printed.
struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// One run of a tool as its own process, in a working directory of the
// caller's choosing, with standard output and error kept in files of its
// own there (or standard output into a pipe the caller reads and may close).
// Free of any test framework: the fault campaign runs the bench host with
// it too.
class ToolProcess {
public:
    enum class Output { kFile, kPipe };

    // Runs the tool and waits for its end.
    static ToolRun RunToEnd(const std::string& program, const std::vector<std::string>& args,
                            const std::string& directory) {
        ToolProcess process(program, args, directory);
        const int status = process.Wait();
        return ToolRun{status, process.Stdout(), process.Stderr()};
    }

    ToolProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& directory, Output output = Output::kFile)
        : program_(program) {
        int out_pipe[2] = {-1, -1};
        if (output == Output::kPipe && pipe2(out_pipe, O_CLOEXEC) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            // The output files first: `directory` may be relative to where
            // the caller runs.
            if (output == Output::kPipe) {
                close(out_pipe[0]);
                if (dup2(out_pipe[1], STDOUT_FILENO) < 0)
                    _exit(127);
                close(out_pipe[1]);
            } else {
                Redirect(OutputPath(directory, program, getpid(), "stdout"), STDOUT_FILENO);
            }
            Redirect(OutputPath(directory, program, getpid(), "stderr"), STDERR_FILENO);
            if (chdir(directory.c_str()) != 0)
                _exit(127);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        // Each run's output is its own: a second tool run in the same folder,
        // alongside or after this one, never writes over what this one printed.
        out_path_ = OutputPath(directory, program, pid_, "stdout");
        err_path_ = OutputPath(directory, program, pid_, "stderr");
        if (output == Output::kPipe) {
            close(out_pipe[1]);
            out_pipe_ = out_pipe[0];
        }
    }

    // Whether a file name is one a run's output was kept in.
    static bool IsOutputFile(const std::string& name) {
        for (const char* end : {".stdout.txt", ".stderr.txt"})
            if (name.size() > std::strlen(end) &&
                name.compare(name.size() - std::strlen(end), std::string::npos, end) == 0)
                return true;
        return false;
    }

    ~ToolProcess() {
        CloseOutputPipe();
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // With Output::kPipe: reads standard output until it holds `lines`
    // lines, or it ends, or `limit` passes; what was read.
    std::string ReadLines(int lines, std::chrono::milliseconds limit) {
        const auto give_up = std::chrono::steady_clock::now() + limit;
        std::string text;
        char c = 0;
        while (lines > 0 && std::chrono::steady_clock::now() < give_up) {
            pollfd ready{out_pipe_, POLLIN, 0};
            if (poll(&ready, 1, 20) <= 0)
                continue;
            if (read(out_pipe_, &c, 1) != 1)
                break;
            text += c;
            lines -= c == '\n' ? 1 : 0;
        }
        return text;
    }
    // The reader of standard output goes away, as `head` does.
    void CloseOutputPipe() {
        if (out_pipe_ >= 0)
            close(out_pipe_);
        out_pipe_ = -1;
    }

    // Waits (up to `limit`) until the tool's main thread blocks `signal`:
    // from then on it holds that signal, where before main nothing could.
    bool WaitUntilHolding(int signal, std::chrono::milliseconds limit) const {
        if (!WaitUntilExecuted(limit))
            return false;
        const std::string status_path = "/proc/" + std::to_string(pid_) + "/status";
        const auto give_up = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < give_up) {
            std::ifstream status(status_path);
            for (std::string line; std::getline(status, line);)
                if (line.rfind("SigBlk:", 0) == 0 &&
                    (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1) & 1) != 0)
                    return true;
            std::this_thread::yield();
        }
        return false;
    }

    // Waits (up to `limit`) until the process runs the tool itself, no
    // longer the test's fork of itself.
    bool WaitUntilExecuted(std::chrono::milliseconds limit) const {
        char wanted[PATH_MAX];
        if (realpath(program_.c_str(), wanted) == nullptr)
            return false;
        const std::string exe = "/proc/" + std::to_string(pid_) + "/exe";
        const auto give_up = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < give_up) {
            char running[PATH_MAX];
            const ssize_t length = readlink(exe.c_str(), running, sizeof running - 1);
            if (length > 0 && std::string(running, static_cast<std::size_t>(length)) == wanted)
                return true;
            std::this_thread::yield();
        }
        return false;
    }

    void Signal(int number) {
        if (pid_ > 0)
            kill(pid_, number);
    }

    // Exit status, or 128 + the signal that ended it; 127, as for a program
    // that could not be run, when no process could be started.
    int Wait() {
        if (pid_ <= 0)
            return 127;
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Exit status as Wait() gives it, or nothing when the process is still
    // running after `limit` (it is then killed).
    std::optional<int> WaitFor(std::chrono::milliseconds limit) {
        if (pid_ <= 0)
            return 127;
        const auto give_up = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() >= give_up)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Waits (up to `limit`) until standard output holds `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) const {
        const auto give_up = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < give_up) {
            if (Stdout().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string Stdout() const { return Read(out_path_); }
    std::string Stderr() const { return Read(err_path_); }

private:
    // "bench_host.4711.stdout.txt": the program's name and the process's id.
    static std::string OutputPath(const std::string& directory, const std::string& program,
                                  pid_t pid, const char* stream) {
        const std::size_t slash = program.rfind('/');
        const std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
        return directory + "/" + name + "." + std::to_string(pid) + "." + stream + ".txt";
    }

    static void Redirect(const std::string& path, int target) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, target) < 0)
            _exit(127);
        close(fd);
    }

    static std::string Read(const std::string& path) {
        std::ifstream file(path);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::string program_;
    std::string out_path_;
    std::string err_path_;
    int out_pipe_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
};
