#include "CampaignRunner.h"

#include "BenchError.h"
#include "HistoryStore.h"
#include "ToolProcess.h"

#include <json/reader.h>
#include <sqlite3.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

struct ProcessEnd {
    int status = -1;  // exit status, or 128 + the signal that ended it
    bool stopped = false;
    std::string out;
    std::string err;
};

// Runs the program in `folder`, its output kept there; past `limit` it
// gets SIGTERM, as Ctrl-C would, and SIGKILL 10 s after that.
ProcessEnd RunProcess(const std::string& program, const std::vector<std::string>& args,
                      const std::string& folder, std::chrono::milliseconds limit) {
    ToolProcess process(program, args, folder);
    ProcessEnd end;
    std::optional<int> status = process.WaitFor(limit);
    if (!status) {
        end.stopped = true;
        process.Signal(SIGTERM);
        status = process.WaitFor(std::chrono::seconds(10));
    }
    if (!status) {
        process.Signal(SIGKILL);
        status = process.Wait();
    }
    end.status = *status;
    end.out = process.Stdout();
    end.err = process.Stderr();
    return end;
}

std::optional<Json::Value> ReadJson(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        return std::nullopt;
    Json::Value root;
    Json::CharReaderBuilder builder;
    std::string problem;
    if (!Json::parseFromStream(builder, file, &root, &problem))
        return std::nullopt;
    return root;
}

std::string IntegrityOf(const std::string& path) {
    if (!std::filesystem::exists(path))
        return "no history file";
    sqlite3* db = nullptr;
    std::string answer = "cannot open it";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
            sqlite3_step(check) == SQLITE_ROW)
            answer = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        else
            answer = sqlite3_errmsg(db);
        sqlite3_finalize(check);
    }
    sqlite3_close(db);
    return answer;
}

void ReadHistory(const std::string& path, RunResult& run) {
    run.integrity = IntegrityOf(path);
    if (run.integrity != "ok")
        return;
    try {
        HistoryStore store(path, HistoryStore::Access::kReadOnly);
        for (const HistoryRow& row : store.All()) {
            const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
            if (record)
                run.records.emplace_back(row.data_id, *record);
            else
                run.integrity = "row " + std::to_string(row.row_id) + " holds " +
                                std::to_string(row.record.size()) + " bytes, not a record";
        }
    } catch (const BenchError& failure) {
        run.integrity = failure.what();
    }
}

std::uint64_t FaultsInRun(const CampaignPlan& plan) {
    std::uint64_t count = 0;
    for (const PlannedFault& fault : plan.faults)
        count += fault.request == 0 ? plan.rounds : 1;
    return count;
}

}  // namespace

std::chrono::milliseconds RunTimeLimit(const CampaignPlan& plan, const Expectation& expected) {
    const double exchanges = static_cast<double>(plan.rounds * plan.meters.size());
    const double round_ms = std::max<double>(plan.interval_ms,
                                             static_cast<double>(plan.meters.size()) * (kAnswerMs + 15));
    // A lost exchange waits out the late limit or the line's silence.
    const double per_fault_ms = plan.LateLimitMs() + 2.0 * plan.timeout_ms + plan.sim_late_ms +
                                static_cast<double>(plan.line.TransportDelay().count());
    double sum_ms = plan.rounds * round_ms + static_cast<double>(FaultsInRun(plan)) * per_fault_ms;
    if (expected.any_may_be_lost)
        sum_ms += exchanges * (3.0 * plan.timeout_ms + kAnswerMs);
    const double limit_ms = expected.may_stall ? sum_ms + 3000 : 2 * sum_ms + 10000;
    return std::chrono::milliseconds(static_cast<long long>(limit_ms));
}

PlanReport RunPlan(const CampaignPlan& plan, const CampaignTools& tools, const std::string& folder,
                   int attempts) {
    PlanReport report;
    report.folder = folder;
    std::filesystem::create_directories(folder);
    for (const CampaignMeter& meter : plan.meters)
        if (meter.settings_path.empty())
            std::ofstream(folder + "/" + meter.SettingsFileName()) << meter.SettingsText();
    const std::string history = folder + "/history.sqlite";
    const std::string statistics = folder + "/statistics.json";
    std::vector<std::string> args = plan.Arguments(folder);
    args.insert(args.end(), {"--plugin", tools.plugin, "--history", history, "--stats-json",
                             statistics});
    report.command = args;
    report.command.insert(report.command.begin(), tools.bench_host);

    const Expectation expected = Expect(plan);
    const std::chrono::milliseconds limit = RunTimeLimit(plan, expected);
    for (report.attempts = 1; report.attempts <= attempts; ++report.attempts) {
        for (const char* suffix : {"", "-wal", "-shm"})
            std::filesystem::remove(history + suffix);
        std::filesystem::remove(statistics);

        RunResult run;
        const ProcessEnd end = RunProcess(tools.bench_host, args, folder, limit);
        run.status = end.status;
        run.stopped = end.stopped;
        run.out = end.out;
        run.err = end.err;
        run.statistics = ReadJson(statistics);
        ReadHistory(history, run);

        report.findings = CheckRun(plan, expected, run);
        report.exchanges = ReadPollRows(run.out).size();
        report.lost = run.statistics ? (*run.statistics)["line"]["rounds_lost"].asUInt64() : 0;
        report.stored = run.records.size();
        report.stopped = run.stopped;
        const bool only_load = !report.findings.empty() &&
                               std::all_of(report.findings.begin(), report.findings.end(),
                                           [](const Finding& finding) { return finding.MayBeTheLoad(); });
        if (!only_load)
            break;
    }
    report.attempts = std::min(report.attempts, attempts);
    return report;
}
