// Nearest-rank percentiles against ranks worked out by hand: rank =
// ceil(p / 100 * n) of the sorted times, 1 the shortest. The bins are 0.81 %
// wide, so a figure from the middle of the bins is within 0.41 %.
#include "ResponseTimeHistogram.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Ms = std::chrono::duration<double, std::milli>;

constexpr double kBinPrecision = 0.0041;

ResponseTimeHistogram FromMilliseconds(const std::vector<double>& times) {
    ResponseTimeHistogram histogram;
    for (double ms : times)
        histogram.Add(Ms(ms));
    return histogram;
}

std::vector<double> OneToN(int n) {
    std::vector<double> times;
    for (int i = n; i >= 1; --i)  // out of order: the histogram sorts
        times.push_back(i);
    return times;
}

double PercentileMs(const ResponseTimeHistogram& histogram, unsigned percent) {
    return Ms(histogram.Percentile(percent)).count();
}

TEST(ResponseTimeHistogramTest, NinetyFifthPercentileTakesTheNearestRankUp) {
    // n -> ceil(0.95 n), across the points where the rank steps.
    const struct {
        int n;
        double expected_ms;
    } cases[] = {{1, 1}, {2, 2}, {10, 10}, {19, 19}, {20, 19}, {21, 20},
                 {39, 38}, {40, 38}, {41, 39}, {100, 95}, {101, 96}};
    for (const auto& c : cases) {
        const ResponseTimeHistogram histogram = FromMilliseconds(OneToN(c.n));
        EXPECT_NEAR(PercentileMs(histogram, 95), c.expected_ms, c.expected_ms * kBinPrecision)
            << "n = " << c.n;
    }
}

TEST(ResponseTimeHistogramTest, OtherPercentilesMinMaxAndMean) {
    const ResponseTimeHistogram histogram = FromMilliseconds(OneToN(20));
    EXPECT_NEAR(PercentileMs(histogram, 50), 10.0, 10.0 * kBinPrecision);
    EXPECT_DOUBLE_EQ(PercentileMs(histogram, 1), 1.0) << "rank 1 is the minimum, exactly";
    EXPECT_DOUBLE_EQ(PercentileMs(histogram, 100), 20.0) << "rank n is the maximum, exactly";
    EXPECT_DOUBLE_EQ(Ms(histogram.Min()).count(), 1.0);
    EXPECT_DOUBLE_EQ(Ms(histogram.Max()).count(), 20.0);
    EXPECT_DOUBLE_EQ(Ms(histogram.Mean()).count(), 10.5);
    EXPECT_EQ(histogram.Count(), 20u);
}

// Nine quick answers and one late one: the 90th is a quick one, the 95th the late one.
TEST(ResponseTimeHistogramTest, OneOutlierInTenIsTheNinetyFifthPercentile) {
    std::vector<double> times(9, 64.2);
    times.push_back(812.5);
    const ResponseTimeHistogram histogram = FromMilliseconds(times);
    EXPECT_NEAR(PercentileMs(histogram, 90), 64.2, 64.2 * kBinPrecision);
    EXPECT_DOUBLE_EQ(PercentileMs(histogram, 95), 812.5);
    EXPECT_NEAR(Ms(histogram.Mean()).count(), (9 * 64.2 + 812.5) / 10, 1e-9);
}

TEST(ResponseTimeHistogramTest, PrecisionHoldsAcrossLineSpeeds) {
    // Times from a fast line's few milliseconds to late answers.
    for (double scale : {0.1, 1.0, 10.0, 100.0}) {
        std::vector<double> times;
        for (int i = 1; i <= 1000; ++i)
            times.push_back(scale * i);
        const ResponseTimeHistogram histogram = FromMilliseconds(times);
        EXPECT_NEAR(PercentileMs(histogram, 95), scale * 950, scale * 950 * kBinPrecision)
            << "scale " << scale;
        EXPECT_NEAR(PercentileMs(histogram, 50), scale * 500, scale * 500 * kBinPrecision)
            << "scale " << scale;
    }
}

// Times packed into a fraction of one bin: a bin's centre may lie beyond
// all of them, yet no percentile is above the maximum or below the minimum.
TEST(ResponseTimeHistogramTest, NoPercentileLiesOutsideTheTimesMeasured) {
    for (double ms = 60.0; ms < 61.0; ms += 0.0173) {  // across a bin's width, 0.49 ms here
        std::vector<double> times(39, ms);
        times.push_back(ms * 1.0001);
        const ResponseTimeHistogram histogram = FromMilliseconds(times);
        for (unsigned percent = 1; percent <= 100; ++percent) {
            const double at = PercentileMs(histogram, percent);
            EXPECT_LE(at, Ms(histogram.Max()).count()) << ms << " ms, p" << percent;
            EXPECT_GE(at, Ms(histogram.Min()).count()) << ms << " ms, p" << percent;
        }
    }
}

// Below 10 us and above 100 s fall outside the bins; they still count, and
// a rank that lands on them reports the exact extreme.
TEST(ResponseTimeHistogramTest, TimesOutsideTheBinsStillCount) {
    ResponseTimeHistogram histogram;
    histogram.Add(std::chrono::microseconds(5));
    histogram.Add(std::chrono::seconds(200));
    EXPECT_EQ(histogram.Count(), 2u);
    EXPECT_DOUBLE_EQ(PercentileMs(histogram, 50), 0.005);
    EXPECT_DOUBLE_EQ(PercentileMs(histogram, 95), 200000.0);
    EXPECT_DOUBLE_EQ(Ms(histogram.Mean()).count(), 100000.0025);

    histogram.Add(std::chrono::microseconds(-30));
    EXPECT_DOUBLE_EQ(histogram.Min().count(), 0.0) << "a negative time counts as 0";

    const ResponseTimeHistogram empty;
    EXPECT_DOUBLE_EQ(empty.Percentile(95).count(), 0.0);
    EXPECT_DOUBLE_EQ(empty.Mean().count(), 0.0);
}

}  // namespace
