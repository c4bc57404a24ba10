// Gathering and decoding a meter answer must not touch the heap: a
// controller polls for years, and every allocation on that path is a chance
// to fragment or exhaust its memory. This executable replaces the global
// allocation operators (AllocationCounter.cpp) and counts them around the
// meter's work, with the stand-in framework quiet so that its own calls
// neither log nor allocate.
#include "AllocationCounter.h"
#include "MeterAnswer.h"
#include "MeterSetup.h"
#include "ProbeFixture.h"
#include "QuietFramework.h"

#include <iostream>
#include <new>
#include <optional>
#include <sstream>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned int kDataId = 101;

// Hands a pointer through a volatile store, so that the compiler cannot
// drop the allocation that produced it.
void* volatile g_escaped = nullptr;
template <class T>
T* Escape(T* pointer) {
    g_escaped = pointer;
    return pointer;
}

// A meter whose round completion only counts, so that what process() does
// is the gathering of the answer and its decoding, nothing else.
class DecodeOnlyMeter : public QVT7702 {
public:
    void RoundDone() override { ++completed_rounds; }
    float Value(int i) const { return record_.values[i]; }
    int completed_rounds = 0;
};

class AllocationTest : public ProbeFixture {
protected:
    void SetUp() override {
        ProbeFixture::SetUp();
        quiet.emplace();
        settings = LoadSettings(QVT7702_EXAMPLE_SETTINGS);
    }

    void TearDown() override {
        quiet.reset();
        ProbeFixture::TearDown();
    }

    // Delivers one answer in chunks of at most `chunk` bytes; returns the
    // result of the last process() call.
    int DeliverAnswer(QVT7702& meter, std::size_t chunk) {
        int result = -1;
        for (std::size_t at = 0; at < answer.size(); at += chunk) {
            const std::size_t size = std::min(chunk, answer.size() - at);
            result = meter.process(answer.data() + at, static_cast<unsigned int>(size));
        }
        return result;
    }

    // Allocations made by one round delivered in chunks of `chunk` bytes.
    std::uint64_t AllocationsOfOneRound(QVT7702& meter, std::size_t chunk) {
        const AllocationCounter counter;
        EXPECT_EQ(DeliverAnswer(meter, chunk), 0) << "the round completes";
        return counter.Allocations();
    }

    std::optional<QuietFramework> quiet;
    Json::Value settings;
    Bytes answer = MeterAnswer(TypicalWords());
};

TEST_F(AllocationTest, CounterSeesEveryFormOfNewAndDelete) {
    struct alignas(64) Wide {
        char bytes[64];
    };
    const AllocationCounter counter;
    int* single = Escape(new int(1));
    int* array = Escape(new int[4]);
    int* nothrow = Escape(new (std::nothrow) int(2));
    Wide* aligned = Escape(new Wide);
    const std::uint64_t allocations = counter.Allocations();
    const std::int64_t growth = counter.HeapGrowth();
    delete single;
    delete[] array;
    delete nothrow;
    delete aligned;
    const std::uint64_t releases = counter.Releases();
    const std::int64_t growth_after = counter.HeapGrowth();

    EXPECT_EQ(allocations, 4u);
    EXPECT_GE(growth, static_cast<std::int64_t>(6 * sizeof(int) + sizeof(Wide)));
    EXPECT_EQ(releases, 4u);
    EXPECT_EQ(growth_after, 0);
}

TEST_F(AllocationTest, QuietFrameworkDropsTraceAndLogOnlyWhileItLives) {
    quiet.reset();
    std::ostringstream captured;
    std::streambuf* const original = std::cout.rdbuf(captured.rdbuf());
    QVT7702 meter;
    {
        const QuietFramework silent;
        std::cout << "dropped" << std::endl;
        meter.RefreshStatus();
        EXPECT_TRUE(Probe().calls.empty());
    }
    std::cout << "kept" << std::endl;
    meter.RefreshStatus();
    std::cout.rdbuf(original);

    EXPECT_EQ(captured.str(), "kept\n");
    EXPECT_TRUE(Probe().recording);
    EXPECT_FALSE(Probe().calls.empty());
}

TEST_F(AllocationTest, GatheringAndDecodingAllocateNothing) {
    for (std::size_t chunk : {std::size_t{58}, std::size_t{1}, std::size_t{7}}) {
        DecodeOnlyMeter meter;
        ConfigureMeter(meter, kDataId, settings);
        WatchSignals(meter, MeterSignalKeys().size());

        const std::uint64_t allocations = AllocationsOfOneRound(meter, chunk);
        EXPECT_EQ(allocations, 0u) << "chunks of " << chunk << " bytes";
        EXPECT_EQ(meter.completed_rounds, 1) << "chunks of " << chunk << " bytes";
        EXPECT_EQ(meter.Value(4), 23012.0f) << "the answer was decoded";
    }
}

TEST_F(AllocationTest, WholeRoundWithItsChecksAllocatesNothing) {
    for (std::size_t signals : {std::size_t{0}, std::size_t{8}}) {
        QVT7702 meter;
        ConfigureMeter(meter, kDataId, settings);
        WatchSignals(meter, signals);
        DeliverAnswer(meter, answer.size());  // the clock's first use loads time-zone data

        for (std::size_t chunk : {std::size_t{58}, std::size_t{1}}) {
            const std::uint64_t allocations = AllocationsOfOneRound(meter, chunk);
            std::clog << "one whole round, " << signals << " watched signals, chunks of " << chunk
                      << " bytes: " << allocations << " allocations\n";
            EXPECT_EQ(allocations, 0u) << signals << " signals, chunks of " << chunk;
        }
        EXPECT_FLOAT_EQ(meter.Get_Value(0, "Ua"), 230.12f) << "the rounds were completed";
    }
}

TEST_F(AllocationTest, ValueQueriesForKnownKeysAllocateNothing) {
    QVT7702 meter;
    ConfigureMeter(meter, kDataId, settings);
    DeliverAnswer(meter, answer.size());

    const std::string voltage = "Uab";
    const std::string current = "Ic";
    const AllocationCounter counter;
    const float line_voltage = meter.Get_Value(0, voltage);
    const float phase_current = meter.Get_Value(0, current);
    EXPECT_EQ(counter.Allocations(), 0u);
    EXPECT_FLOAT_EQ(line_voltage, 400.10f);
    EXPECT_EQ(phase_current, 498.0f);
}

}  // namespace
