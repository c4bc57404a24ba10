#pragma once

#include "LineSettings.h"

#include <chrono>
#include <cstddef>

// What one poll costs the line at its settings: the request frame, the
// shortest silence that may end it, the answer frame and the shortest
// silence that may end that one (LineSettings::ShortestFrameEnd). No host,
// however fast, polls one line more often than PollsPerSecond(), whatever
// silences the host and the meter choose to keep; it is the yardstick the
// line's use is measured against.
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
