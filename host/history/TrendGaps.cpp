#include "TrendGaps.h"

#include <algorithm>

namespace {

double MedianOf(std::vector<double> values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

std::vector<std::size_t> TrendGaps::Find(const std::vector<double>& stored_seconds) {
    std::vector<std::size_t> gaps;
    if (stored_seconds.size() < 2)
        return gaps;
    std::vector<double> spacings;
    for (std::size_t i = 1; i < stored_seconds.size(); ++i)
        spacings.push_back(stored_seconds[i] - stored_seconds[i - 1]);
    const double longest_usual = kSpacingFactor * MedianOf(spacings);
    for (std::size_t i = 1; i < stored_seconds.size(); ++i) {
        const double spacing = spacings[i - 1];
        if (spacing > longest_usual || spacing < 0.0)
            gaps.push_back(i);
    }
    return gaps;
}
