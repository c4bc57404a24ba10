#include "ResponseTimeHistogram.h"

#include <algorithm>

namespace {

constexpr unsigned kBins = 2000;
constexpr double kLowestUs = 10.0;
constexpr double kHighestUs = 100e6;

}  // namespace

ResponseTimeHistogram::ResponseTimeHistogram()
    : bins_(boost::histogram::make_histogram(Axis(kBins, kLowestUs, kHighestUs))) {}

void ResponseTimeHistogram::Add(Duration time) {
    const double us = std::max(time.count(), 0.0);
    bins_(us);
    min_us_ = count_ == 0 ? us : std::min(min_us_, us);
    max_us_ = count_ == 0 ? us : std::max(max_us_, us);
    sum_us_ += us;
    ++count_;
}

ResponseTimeHistogram::Duration ResponseTimeHistogram::Min() const {
    return Duration(min_us_);
}

ResponseTimeHistogram::Duration ResponseTimeHistogram::Max() const {
    return Duration(max_us_);
}

ResponseTimeHistogram::Duration ResponseTimeHistogram::Mean() const {
    return Duration(count_ == 0 ? 0.0 : sum_us_ / static_cast<double>(count_));
}

// Walks the bins from the shortest times, the underflow bin (below 10 us)
// first and the overflow bin (above 100 s) last; those two have no centre,
// and stand for the minimum and the maximum.
ResponseTimeHistogram::Duration ResponseTimeHistogram::Percentile(unsigned percent) const {
    if (count_ == 0)
        return Duration(0.0);
    const std::uint64_t rank = std::max<std::uint64_t>(1, (percent * count_ + 99) / 100);
    if (rank == 1)
        return Min();
    if (rank >= count_)
        return Max();
    std::uint64_t seen = 0;
    for (auto&& bin : boost::histogram::indexed(bins_, boost::histogram::coverage::all)) {
        seen += static_cast<std::uint64_t>(*bin);
        if (seen < rank)
            continue;
        const int index = bin.index();
        if (index < 0)
            return Min();
        if (index >= static_cast<int>(kBins))
            return Max();
        return Duration(std::clamp(bin.bin().center(), min_us_, max_us_));
    }
    return Max();
}
