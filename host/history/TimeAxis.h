#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The time axis of a trend plot: its range, and ticks a step apart with
// labels that tell neighbours apart over the span, from fractions of a
// second to years. A step shorter than a day labels the time of day and
// adds the date under the first tick and under each tick that begins
// another day; longer steps label dates (days and weeks), months or years.
// At most kMostTicks ticks, so that the labels never run into each other.
class TimeAxis {
public:
    static constexpr int kMostTicks = 8;
    // A shorter range is widened to this around its middle.
    static constexpr double kShortestSpanSeconds = 1.0;

    struct Tick {
        double seconds;     // on the history's clock (StoredTime)
        std::string label;  // lines joined by '\n'
    };

    // From `first` to `last` on the history's clock.
    TimeAxis(double first, double last);

    double Start() const { return start_; }
    double End() const { return end_; }
    // "0.5 s", "15 min", "6 h", "1 day", "7 days", "3 months", "1 year".
    const std::string& Step() const { return step_; }
    const std::vector<Tick>& Ticks() const { return ticks_; }

private:
    double start_;
    double end_;
    std::string step_;
    std::vector<Tick> ticks_;
};
