#pragma once

#include <cstddef>
#include <vector>

// Where a trend line must break. The history holds completed rounds only,
// so a lost round shows as a longer wait between two stored records: a gap
// lies between two consecutive records stored more than kSpacingFactor times
// the median spacing apart, or stored out of order (the clock was set back).
// A run stopped and started again later shows the same way.
class TrendGaps {
public:
    static constexpr double kSpacingFactor = 1.5;

    // `stored_seconds`: when each record was stored, in history order.
    // Returns every index i whose record starts a new line piece, that is,
    // with a gap between records i - 1 and i; ascending.
    static std::vector<std::size_t> Find(const std::vector<double>& stored_seconds);
};
