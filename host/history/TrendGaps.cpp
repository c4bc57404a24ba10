#include "TrendGaps.h"

#include <cmath>
#include <limits>

void TrendGaps::Spacings::Add(double seconds) {
    ++total_;
    if (seconds < 0.0) {
        ++negative_;
        return;
    }
    ++counts_[std::llround(seconds * 1000.0) >> shift_];
    // Halving the resolution at least halves the values of a history whose
    // spacings are spread evenly; one of a few bunched ones loses little.
    while (counts_.size() > kMostValues) {
        std::map<std::int64_t, std::uint64_t> coarser;
        for (const auto& [value, count] : counts_)
            coarser[value >> 1] += count;
        counts_.swap(coarser);
        ++shift_;
    }
}

double TrendGaps::Spacings::LongestUsual() const {
    if (total_ == 0)
        return std::numeric_limits<double>::infinity();
    const std::uint64_t middle = total_ / 2;
    if (middle < negative_)
        return -std::numeric_limits<double>::infinity();
    std::uint64_t seen = negative_;
    for (const auto& [value, count] : counts_) {
        seen += count;
        if (seen > middle) {
            // The middle of the values that share this count.
            const double milliseconds =
                std::ldexp(static_cast<double>(value), shift_) +
                (shift_ == 0 ? 0.0 : (std::ldexp(1.0, shift_) - 1.0) / 2.0);
            return kSpacingFactor * milliseconds / 1000.0;
        }
    }
    return std::numeric_limits<double>::infinity();
}

std::vector<std::size_t> TrendGaps::Find(const std::vector<double>& stored_seconds) {
    std::vector<std::size_t> gaps;
    Spacings spacings;
    for (std::size_t i = 1; i < stored_seconds.size(); ++i)
        spacings.Add(stored_seconds[i] - stored_seconds[i - 1]);
    const double longest_usual = spacings.LongestUsual();
    for (std::size_t i = 1; i < stored_seconds.size(); ++i)
        if (IsGap(stored_seconds[i] - stored_seconds[i - 1], longest_usual))
            gaps.push_back(i);
    return gaps;
}
