// The meter's own work, timed with the stand-in framework quiet: framework
// calls return at once and trace lines are formatted but dropped, so what is
// measured is the plug-in and not the log or the terminal. Every benchmark
// also reports its heap allocations per iteration ("allocs").
#include "AllocationCounter.h"
#include "MeterAnswer.h"
#include "MeterSetup.h"
#include "QVT7702.h"
#include "QuietFramework.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr unsigned int kDataId = 101;

const Json::Value& ExampleSettings() {
    static const Json::Value settings = LoadSettings(QVT7702_EXAMPLE_SETTINGS);
    return settings;
}

std::unique_ptr<QVT7702> ConfiguredMeter(std::size_t watched_signals) {
    auto meter = std::make_unique<QVT7702>();
    ConfigureMeter(*meter, kDataId, ExampleSettings());
    WatchSignals(*meter, watched_signals);
    return meter;
}

// Hands one answer to process() in chunks of at most `chunk` bytes.
void DeliverAnswer(QVT7702& meter, std::vector<unsigned char>& answer, std::size_t chunk) {
    for (std::size_t at = 0; at < answer.size(); at += chunk) {
        const std::size_t size = std::min(chunk, answer.size() - at);
        benchmark::DoNotOptimize(meter.process(answer.data() + at, static_cast<unsigned int>(size)));
    }
}

void ReportAllocations(benchmark::State& state, std::uint64_t allocations) {
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(allocations), benchmark::Counter::kAvgIterations);
}

// One completed round: a whole answer through process(), decoded, then the
// round's publication, checks and history.
void BM_ProcessAnswer(benchmark::State& state) {
    const QuietFramework quiet;
    const auto chunk = static_cast<std::size_t>(state.range(0));
    auto meter = ConfiguredMeter(static_cast<std::size_t>(state.range(1)));
    std::vector<unsigned char> answer = MeterAnswer(TypicalWords());

    const AllocationCounter counter;
    for (auto _ : state)
        DeliverAnswer(*meter, answer, chunk);
    ReportAllocations(state, counter.Allocations());
}
BENCHMARK(BM_ProcessAnswer)
    ->ArgNames({"chunk", "signals"})
    ->Args({QVT7702::kAnswerLength, 0})
    ->Args({QVT7702::kAnswerLength, 8})
    ->Args({1, 0})
    ->Args({1, 8});

void BM_RoundDone(benchmark::State& state) {
    const QuietFramework quiet;
    auto meter = ConfiguredMeter(static_cast<std::size_t>(state.range(0)));

    const AllocationCounter counter;
    for (auto _ : state)
        meter->RoundDone();
    ReportAllocations(state, counter.Allocations());
}
BENCHMARK(BM_RoundDone)->ArgName("signals")->Arg(0)->Arg(8);

// A query on fresh data; a key the meter does not answer throws.
void BM_GetValue(benchmark::State& state, const std::string& key) {
    const QuietFramework quiet;
    auto meter = ConfiguredMeter(0);
    std::vector<unsigned char> answer = MeterAnswer(TypicalWords());
    DeliverAnswer(*meter, answer, answer.size());

    const AllocationCounter counter;
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(meter->Get_Value(0, key));
        } catch (const std::out_of_range& failure) {
            benchmark::DoNotOptimize(failure.what());
        }
    }
    ReportAllocations(state, counter.Allocations());
}
BENCHMARK_CAPTURE(BM_GetValue, voltage_Ua, std::string("Ua"));
BENCHMARK_CAPTURE(BM_GetValue, current_Ia, std::string("Ia"));
BENCHMARK_CAPTURE(BM_GetValue, unknown_key, std::string("Pf"));

// Configuration of a new meter with the example settings (mode 3, eight
// signals), as at start-up; creating and destroying the meter is not timed.
void BM_InitSetting(benchmark::State& state) {
    const QuietFramework quiet;
    const Json::Value& settings = ExampleSettings();
    std::uint64_t allocations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto meter = std::make_unique<QVT7702>();
        meter->Init(std::weak_ptr<SMDController>(), kDataId, settings);
        const AllocationCounter counter;
        state.ResumeTiming();

        benchmark::DoNotOptimize(meter->InitSetting(settings));

        state.PauseTiming();
        allocations += counter.Allocations();
        meter.reset();
        state.ResumeTiming();
    }
    ReportAllocations(state, allocations);
}
BENCHMARK(BM_InitSetting);

}  // namespace
