#pragma once

#include "LineSettings.h"

#include <chrono>
#include <cstddef>

// What one poll costs the line at its settings: the request frame, the
// silent interval that ends it, the answer frame and the silent interval
// that ends that one. No host, however fast, polls one line more often than
// PollsPerSecond(); it is the yardstick the line's use is measured against.
class WireBudget {
public:
    WireBudget(const LineSettings& line, std::size_t request_bytes, std::size_t answer_bytes);

    std::chrono::duration<double, std::micro> PollTime() const;
    // The request frame alone, from its first byte to its last.
    std::chrono::duration<double, std::micro> RequestTime() const;
    double PollSeconds() const;
    double PollsPerSecond() const;
    const LineSettings& Line() const { return line_; }

private:
    LineSettings line_;
    std::size_t request_bytes_;
    std::size_t answer_bytes_;
};
