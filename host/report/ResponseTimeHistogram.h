#pragma once

#include <boost/histogram.hpp>

#include <chrono>
#include <cstdint>

// The response times of a run of any length in constant memory (a few
// kilobytes), so that a bench host left polling for weeks does not grow.
//
// Times are counted in 2000 bins spaced evenly on a log scale from 10 us to
// 100 s: each bin spans 0.81 % of its value, so a percentile is within
// 0.41 % of the true one at 115200 baud's few milliseconds as at 9600's
// tens and at a late answer's hundreds. Log bins keep that precision
// relative across line speeds, where fixed-width bins would either be too
// coarse at a fast line or too many for a slow one. The count, minimum,
// maximum and mean are kept exactly beside the bins.
class ResponseTimeHistogram {
public:
    using Duration = std::chrono::duration<double, std::micro>;

    ResponseTimeHistogram();

    // A negative time (a request's end estimated after the answer came) counts as 0.
    void Add(Duration time);

    std::uint64_t Count() const { return count_; }
    // Each of these is 0 while Count() is 0.
    Duration Min() const;
    Duration Max() const;
    Duration Mean() const;
    // Nearest rank: the time at rank ceil(percent / 100 * Count()) when all
    // times are sorted from the shortest, rank 1 the first. Rank 1 is Min()
    // and the last rank Max(), exactly; any other is the centre of the bin
    // that rank falls in, held within Min() and Max().
    // `percent` is from 1 to 100.
    Duration Percentile(unsigned percent) const;

private:
    using Axis = boost::histogram::axis::regular<double, boost::histogram::axis::transform::log>;
    using Bins = boost::histogram::histogram<std::tuple<Axis>>;

    Bins bins_;
    std::uint64_t count_ = 0;
    double sum_us_ = 0.0;
    double min_us_ = 0.0;
    double max_us_ = 0.0;
};
