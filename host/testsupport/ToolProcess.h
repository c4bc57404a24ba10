#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
// test's choosing, with standard output and error kept in files there.
class ToolProcess {
public:
    // Runs the tool and waits for its end.
    static ToolRun RunToEnd(const std::string& program, const std::vector<std::string>& args,
                            const std::string& directory) {
        ToolProcess process(program, args, directory);
        const int status = process.Wait();
        return ToolRun{status, process.Stdout(), process.Stderr()};
    }

    ToolProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& directory)
        : out_path_(directory + "/stdout.txt"), err_path_(directory + "/stderr.txt") {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(directory.c_str()) != 0)
                _exit(127);
            Redirect(out_path_, STDOUT_FILENO);
            Redirect(err_path_, STDERR_FILENO);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }

    ~ToolProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    void Signal(int number) { kill(pid_, number); }

    // Exit status, or 128 + the signal that ended it.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Exit status as Wait() gives it, or nothing when the process is still
    // running after `limit` (it is then killed).
    std::optional<int> WaitFor(std::chrono::milliseconds limit) {
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

    std::string out_path_;
    std::string err_path_;
    pid_t pid_ = -1;
    bool exited_ = false;
};
