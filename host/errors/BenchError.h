#pragma once

#include <stdexcept>
#include <string>

// Exit status of the bench tools, one per kind of bad input.
enum class ExitCode {
    kOk = 0,
    kFailure = 1,
    kUsage = 2,
    kSettings = 3,
    kPlugin = 4,
    kPort = 5,
    kHistory = 6,
    kPlot = 7,
    kLine = 8,  // two meters of one line with one station or data id
    kNothingRead = 9,  // a run that lost every exchange it ended, and completed none
};

// A failure the user can act on: a one-line message and the exit status it
// ends the program with.
class BenchError : public std::runtime_error {
public:
    BenchError(ExitCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}

    ExitCode Code() const { return code_; }

private:
    ExitCode code_;
};
