#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Where a trend line must break. The history holds completed rounds only,
// so a lost round shows as a longer wait between two stored records: a gap
// lies between two consecutive records stored more than kSpacingFactor times
// the median spacing apart, or stored out of order (the clock was set back).
// A run stopped and started again later shows the same way.
class TrendGaps {
public:
    static constexpr double kSpacingFactor = 1.5;

    // The spacings of a history counted one by one, in memory that does not
    // grow with the history: by the millisecond (the history's resolution)
    // while they take at most kMostValues values, coarser beyond that.
    class Spacings {
    public:
        static constexpr std::size_t kMostValues = 4096;

        void Add(double seconds);
        // kSpacingFactor times the median spacing (of an even count, the
        // upper one): a longer spacing, or a negative one, is a gap.
        double LongestUsual() const;

    private:
        std::map<std::int64_t, std::uint64_t> counts_;  // by spacing >> shift_, in ms
        std::uint64_t negative_ = 0;
        std::uint64_t total_ = 0;
        int shift_ = 0;
    };

    static bool IsGap(double spacing, double longest_usual) {
        return spacing > longest_usual || spacing < 0.0;
    }

    // `stored_seconds`: when each record was stored, in history order.
    // Returns every index i whose record starts a new line piece, that is,
    // with a gap between records i - 1 and i; ascending.
    static std::vector<std::size_t> Find(const std::vector<double>& stored_seconds);
};
