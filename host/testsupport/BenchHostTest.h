#pragma once

#include "HistoryStore.h"
#include "MeterRecord.h"
#include "ScratchDirectory.h"
#include "ToolProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#ifndef BENCH_HOST
#error "BenchHostTest.h runs the bench host: define BENCH_HOST as its path"
#endif

// The data id of the meter of the example settings (examples/qvt7702-settings.json).
inline constexpr std::uint32_t kExampleDataId = 1201;

// A test that runs the bench host as a user does, as a process of its own
// in a scratch folder, with its history there unless the test names one.
class BenchHostTest : public ::testing::Test {
protected:
    // `always`: options every run of the suite takes after the test's own.
    explicit BenchHostTest(std::vector<std::string> always = {}) : always_(std::move(always)) {}

    // Runs the bench host to its end; what it printed is in `out` and `err`.
    int RunHost(std::vector<std::string> args) {
        ToolRun run = ToolProcess::RunToEnd(BENCH_HOST, WithHistory(std::move(args)), scratch.Path());
        out = std::move(run.out);
        err = std::move(run.err);
        return run.status;
    }

    // The test's options, the suite's, and the scratch history unless the
    // test names one.
    std::vector<std::string> WithHistory(std::vector<std::string> args) const {
        args.insert(args.end(), always_.begin(), always_.end());
        if (std::find(args.begin(), args.end(), "--history") == args.end())
            args.insert(args.end(), {"--history", History()});
        return args;
    }

    std::string History() const { return scratch.File("history.sqlite"); }

    // The history and its journal gone, for the next run to start afresh.
    void RemoveHistory() const {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(History() + suffix);
    }

    std::vector<HistoryRow> StoredRows() const {
        return HistoryStore(History(), HistoryStore::Access::kReadOnly).All();
    }

    // The stored records in order, each checked to be filed under its own
    // data id.
    std::vector<MeterRecord> StoredRecords() const {
        std::vector<MeterRecord> records;
        for (const HistoryRow& row : StoredRows()) {
            records.push_back(MeterRecord::FromBytes(row.record).value());
            EXPECT_EQ(records.back().DataId(), row.data_id) << "stored under its own data id";
        }
        return records;
    }

    // Input the bench host must refuse before it polls: its exit status,
    // one line on standard error that says `message`, nothing on standard
    // output, and no history made (unless the refused file is the history).
    struct Refusal {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    void ExpectRefused(const Refusal& refusal, bool history_was_there = false) {
        const std::string what = refusal.args.empty() ? refusal.message : refusal.args.front();
        EXPECT_EQ(RunHost(refusal.args), refusal.status) << what << ": " << err;
        EXPECT_NE(err.find(refusal.message), std::string::npos) << err;
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_EQ(out, "") << what << ": nothing polled";
        if (!history_was_there) {
            EXPECT_FALSE(std::filesystem::exists(History())) << "no history file after " << err;
        }
    }

    // A loaded machine can only make an answer later, never earlier: it may
    // cost a round that the faults cannot explain, but never make a round
    // complete that they must cost. So a run whose cost the faults do not
    // explain is run again, each time from a fresh history, up to three
    // times; every attempt keeps its own checks. Whether one held.
    bool UntilTheLoadAllows(const std::function<bool()>& attempt) const {
        for (int run = 0; run < 3; ++run) {
            RemoveHistory();
            if (attempt())
                return true;
        }
        return false;
    }

    ScratchDirectory scratch;
    std::string out;
    std::string err;

private:
    std::vector<std::string> always_;
};
