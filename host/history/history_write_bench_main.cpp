// history_write_bench: records per second through the history, for
// scripts/history-write. `--each` stores each record in its own transaction
// (HistoryStore::Append, as records were stored before the writer);
// `--writer` hands them to a HistoryWriter, which commits them in groups,
// and also measures the delay from hand-over to commit, with `--rate` at a
// line's pace or without it as fast as they come.
#include "BenchError.h"
#include "HistoryStore.h"
#include "HistoryWriter.h"

#include <boost/program_options.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace po = boost::program_options;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

const char kStoredAt[] = "2026-12-09 10:00:00.000";

void Report(const char* how, long long records, Clock::duration took) {
    std::printf("%s: %lld records in %.3f s, %.0f records/s\n", how, records, Seconds(took),
                static_cast<double>(records) / Seconds(took));
}

void EachInItsOwnTransaction(const std::string& path, long long records) {
    HistoryStore store(path, HistoryStore::Access::kReadWrite);
    const std::vector<unsigned char> record(59, 0xA5);
    const auto start = Clock::now();
    for (long long n = 0; n < records; ++n)
        store.Append(1201, kStoredAt, record.data(), record.size());
    Report("each record its own transaction", records, Clock::now() - start);
}

// A watcher notes when each record is first seen committed; the delay is
// that moment less its hand-over, to within the watcher's 100 µs look.
void ThroughTheWriter(const std::string& path, long long records, double rate) {
    HistoryWriter writer(path, {});
    const std::vector<unsigned char> record(59, 0xA5);
    std::vector<Clock::time_point> handed(static_cast<std::size_t>(records));
    std::vector<Clock::time_point> seen(static_cast<std::size_t>(records));
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        std::uint64_t noted = 0;
        while (!done) {
            const std::uint64_t stored = writer.Stored();
            const auto now = Clock::now();
            for (; noted < stored; ++noted)
                seen[noted] = now;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    const auto start = Clock::now();
    for (long long n = 0; n < records; ++n) {
        if (rate > 0)
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(n) / rate)));
        handed[static_cast<std::size_t>(n)] = Clock::now();
        writer.Hand(1201, kStoredAt, record.data(), record.size());
    }
    writer.Finish(HistoryWriter::Locks::kWaitOut);
    const auto end = Clock::now();
    done = true;
    watcher.join();
    if (writer.Stored() != static_cast<std::uint64_t>(records))
        throw BenchError(ExitCode::kHistory, "not every record was stored");
    for (std::size_t n = 0; n < seen.size(); ++n)
        if (seen[n] == Clock::time_point())
            seen[n] = end;
    std::vector<double> delays(seen.size());
    for (std::size_t n = 0; n < seen.size(); ++n)
        delays[n] = Seconds(seen[n] - handed[n]) * 1000.0;
    std::sort(delays.begin(), delays.end());
    Report(rate > 0 ? "through the writer, paced" : "through the writer, as fast as handed",
           records, end - start);
    std::printf("  delay from hand-over to commit: median %.1f ms, 99th percentile %.1f ms, "
                "largest %.1f ms\n",
                delays[delays.size() / 2], delays[delays.size() * 99 / 100], delays.back());
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string path;
        long long records = 0;
        double rate = 0;
        po::options_description options("history_write_bench FILE N (--each | --writer [--rate R])");
        options.add_options()("each", "each record in its own transaction")(
            "writer", "through the history's writer")(
            "rate", po::value<double>(&rate), "records a second handed to the writer (0: at once)")(
            "file", po::value<std::string>(&path)->required(), "history file")(
            "records", po::value<long long>(&records)->required(), "records to store");
        po::positional_options_description positional;
        positional.add("file", 1).add("records", 1);
        po::variables_map given;
        po::store(po::command_line_parser(argc, argv).options(options).positional(positional).run(),
                  given);
        po::notify(given);
        if (records <= 0 || given.count("each") == given.count("writer"))
            throw BenchError(ExitCode::kUsage, "usage: history_write_bench FILE N (--each | "
                                               "--writer [--rate R])");
        if (given.count("each"))
            EachInItsOwnTransaction(path, records);
        else
            ThroughTheWriter(path, records, rate);
        return 0;
    } catch (const BenchError& failure) {
        std::cerr << "history_write_bench: " << failure.what() << std::endl;
        return static_cast<int>(failure.Code());
    } catch (const std::exception& failure) {
        std::cerr << "history_write_bench: " << failure.what() << std::endl;
        return 1;
    }
}
