#pragma once

#include <benchmark/benchmark.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

// Console report of the benchmarks that also keeps each benchmark's real
// and CPU time per iteration (the median when repetitions are run), so that
// the cost of a completed round can be set against the time the same round
// takes on the serial line. With --benchmark_repetitions the mean, standard
// deviation and variation are left out of the table.
class WireTimeReporter : public benchmark::ConsoleReporter {
public:
    explicit WireTimeReporter(OutputOptions options) : ConsoleReporter(options) {}

    void ReportRuns(const std::vector<Run>& runs) override;

    // One line per benchmark whose name starts with `prefix`: its time and
    // its share of one exchange at `baud`.
    void PrintWireShare(std::ostream& out, const std::string& prefix, int baud) const;

    // Seconds one poll occupies a line of `baud` 8N1: the request and the
    // meter's answer, each frame followed by the silent interval that ends it.
    static double ExchangeSeconds(int baud);

private:
    struct Times {
        double real_ns;
        double cpu_ns;
    };
    void Keep(const std::string& name, const Times& times);

    std::vector<std::pair<std::string, Times>> times_;  // per iteration, in run order
};
