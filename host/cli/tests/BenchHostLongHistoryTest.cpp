// Histories of hundreds of thousands of rows, as the bench host's own
// process meets them: exports whose memory does not grow with the history,
// an export whose reader goes away, and a restart that passes over many
// stored rows that are not the device's.
#include "BenchHostTest.h"
#include "BulkHistory.h"
#include "FileBytes.h"
#include "QVT7702_Data_t.h"
#include "ScratchDirectory.h"
#include "SimulatedReadings.h"
#include "StoredTime.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// Record n of the example meter, stored a second after record n - 1.
HistoryRow MeterRow(std::int64_t n) {
    QVT7702_Data_t record;
    std::memset(static_cast<void*>(&record), 0, sizeof record);
    record.data_id = kExampleDataId;
    const SimulatedReadings::Words words =
        SimulatedReadings::WordsOf(static_cast<std::uint32_t>(n + 1));
    for (int i = 0; i < SimulatedReadings::kWordCount; ++i)
        record.values[i] = words[i];
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    const std::int64_t at = (StoredTime::DaySeconds(2026, 12, 8) + n) * 1000;
    return HistoryRow{0, kExampleDataId, StoredTime::Text(at), {bytes, bytes + sizeof record}};
}

struct MeasuredRun {
    int status = -1;
    long peak_kb = 0;  // the process's largest resident set
    std::string err;
};

// Runs the bench host with its standard output into `out_fd` (closed here)
// and its standard error into a file; `while_running` is called with its
// process id once it has started.
MeasuredRun RunMeasured(const std::vector<std::string>& args, const ScratchDirectory& scratch,
                        int out_fd, const std::function<void(pid_t)>& while_running = [](pid_t) {}) {
    const std::string err_path = scratch.File("stderr.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(scratch.Path().c_str()) != 0 || dup2(out_fd, STDOUT_FILENO) < 0 ||
            dup2(err_fd, STDERR_FILENO) < 0)
            _exit(127);
        std::vector<char*> argv{const_cast<char*>(BENCH_HOST)};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(BENCH_HOST, argv.data());
        _exit(127);
    }
    close(out_fd);
    while_running(pid);
    MeasuredRun run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peak_kb = usage.ru_maxrss;
    run.err = FileBytes(err_path);
    return run;
}

int DevNull() {
    return open("/dev/null", O_WRONLY);
}

class BenchHostLongHistoryTest : public ::testing::Test {
protected:
    std::string History(std::int64_t rows) {
        const std::string path = scratch.File("history-" + std::to_string(rows) + ".sqlite");
        if (!std::filesystem::exists(path))
            WriteBulkHistory(path, rows, MeterRow);
        return path;
    }

    ScratchDirectory scratch;
};

// Everything held in memory took some 200 bytes a row: 40 MB more for the
// longer history. Streamed, the two runs differ by a few pages.
TEST_F(BenchHostLongHistoryTest, AnExportsMemoryDoesNotGrowWithTheHistory) {
    constexpr std::int64_t kShort = 20000;
    constexpr std::int64_t kLong = 200000;
    constexpr long kMostGrowthKb = 4 * 1024;
    constexpr long kMostKb = 20 * 1024;
    const std::vector<std::vector<std::string>> exports = {
        {"--dump"}, {"--csv"}, {"--csv", "--data-id", "1201"}};
    for (const auto& options : exports) {
        long peak_kb[2] = {};
        for (const std::int64_t rows : {kShort, kLong}) {
            std::vector<std::string> args = options;
            args.insert(args.end(), {"--history", History(rows)});
            const MeasuredRun run = RunMeasured(args, scratch, DevNull());
            ASSERT_EQ(run.status, 0) << run.err;
            peak_kb[rows == kLong] = run.peak_kb;
        }
        EXPECT_LT(peak_kb[1] - peak_kb[0], kMostGrowthKb)
            << options[0] << ": " << peak_kb[0] << " KB for " << kShort << " rows, " << peak_kb[1]
            << " KB for " << kLong;
        EXPECT_LT(peak_kb[1], kMostKb) << options[0];
    }
}

// `bench_host --dump | head`: the reader takes a little and closes the
// pipe. The export ends at once with status 0 and nothing on standard
// error; the history is as it was, without a journal left beside it.
TEST_F(BenchHostLongHistoryTest, AClosedPipeEndsAnExportQuietlyAndLeavesTheHistoryAsItWas) {
    const std::string history = History(50000);  // megabytes of text, far beyond a pipe's buffer
    const std::string before = FileBytes(history);
    const std::vector<std::vector<std::string>> exports = {
        {"--dump"}, {"--csv"}, {"--dump", "--data-id", "1201"}};
    for (const auto& options : exports) {
        std::vector<std::string> args = options;
        args.insert(args.end(), {"--history", history});
        int ends[2];  // the reading end closed in the bench host's process
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        std::string taken;
        const MeasuredRun run = RunMeasured(args, scratch, ends[1], [&](pid_t) {
            char buffer[4096];
            while (taken.size() < 10000) {
                const ssize_t got = read(ends[0], buffer, sizeof buffer);
                if (got <= 0)
                    break;
                taken.append(buffer, static_cast<std::size_t>(got));
            }
            close(ends[0]);
        });
        EXPECT_EQ(run.status, 0) << options[0];
        EXPECT_EQ(run.err, "") << options[0];
        EXPECT_GE(taken.size(), 10000u) << options[0];
        EXPECT_TRUE(FileBytes(history) == before) << options[0];
        EXPECT_FALSE(std::filesystem::exists(history + "-wal")) << options[0];
        EXPECT_FALSE(std::filesystem::exists(history + "-shm")) << options[0];
    }
}

// A stop signal in the middle of an export: it ends between rows, says how
// far it came, and leaves the history as it was, without a journal beside it.
TEST_F(BenchHostLongHistoryTest, AStopEndsAnExportBetweenRowsAndLeavesTheHistoryAsItWas) {
    const std::string history = History(50000);
    const std::string before = FileBytes(history);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        int ends[2];  // the reader stops reading, so the export waits on the pipe
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        const MeasuredRun run =
            RunMeasured({"--csv", "--history", history}, scratch, ends[1], [&](pid_t pid) {
                char buffer[4096];
                ASSERT_GT(read(ends[0], buffer, sizeof buffer), 0);
                kill(pid, signal);
                while (read(ends[0], buffer, sizeof buffer) > 0) {
                }
                close(ends[0]);
            });
        EXPECT_EQ(run.status, 0) << strsignal(signal) << ": " << run.err;
        EXPECT_NE(run.err.find("bench_host: --csv stopped after "), std::string::npos)
            << strsignal(signal) << ": " << run.err;
        EXPECT_TRUE(FileBytes(history) == before) << strsignal(signal);
        EXPECT_FALSE(std::filesystem::exists(history + "-wal")) << strsignal(signal);
        EXPECT_FALSE(std::filesystem::exists(history + "-shm")) << strsignal(signal);
    }
}

// A restart after a run that filed a great many cut-short records under
// the device: it names the newest three and counts the rest, and holds no
// more of them in memory than a history with a few.
TEST_F(BenchHostLongHistoryTest, ARestartPassesOverManyRefusedRowsInLittleMemory) {
    const auto cut_short = [](std::int64_t n) {
        HistoryRow row = MeterRow(n);
        if (n > 0)
            row.record.resize(12);
        return row;
    };
    long peak_kb[2] = {};
    std::string out[2];
    const std::int64_t sizes[] = {10, 200000};
    for (int i = 0; i < 2; ++i) {
        const std::string history = scratch.File("refused-" + std::to_string(i) + ".sqlite");
        WriteBulkHistory(history, sizes[i], cut_short);
        const std::string out_path = scratch.File("out.txt");
        const MeasuredRun run = RunMeasured({"--rounds", "1", "--interval", "0", "--history", history},
                                            scratch, open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        ASSERT_EQ(run.status, 0) << run.err;
        peak_kb[i] = run.peak_kb;
        out[i] = FileBytes(out_path);
    }
    for (int i = 0; i < 2; ++i) {
        const std::int64_t newest = sizes[i];  // row ids count from 1
        for (std::int64_t id = newest; id > newest - 3; --id)
            EXPECT_NE(out[i].find("cache: skipped record #" + std::to_string(id) + " stored " +
                                  MeterRow(id - 1).stored_at + ": 12 bytes, not a 59-byte record\n"),
                      std::string::npos)
                << out[i];
        EXPECT_NE(out[i].find("cache: skipped " + std::to_string(sizes[i] - 1 - 3) +
                              " more records not of data id 1201\n"),
                  std::string::npos)
            << out[i];
        EXPECT_NE(out[i].find("newest record from history, stored " + MeterRow(0).stored_at),
                  std::string::npos)
            << out[i];
    }
    EXPECT_LT(peak_kb[1] - peak_kb[0], 4 * 1024)
        << peak_kb[0] << " KB with 9 refused rows, " << peak_kb[1] << " KB with 199999";
}

}  // namespace
