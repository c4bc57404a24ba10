// Prints the footprint of a configured meter, runs the benchmarks and sets
// the cost of a completed round against its time on the serial line.
#include "MeterFootprint.h"
#include "MeterSetup.h"
#include "QVT7702.h"
#include "WireTimeReporter.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <iostream>

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    MeterFootprint::Measure(LoadSettings(QVT7702_EXAMPLE_SETTINGS), 101).Print(std::cout);

    WireTimeReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                    : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintWireShare(std::cout, "BM_ProcessAnswer", 9600);
    benchmark::Shutdown();
    return 0;
}
