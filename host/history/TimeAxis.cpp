#include "TimeAxis.h"

#include "StoredTime.h"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <utility>

namespace {

using StoredTime::Reading;

constexpr std::int64_t kSecond = 1000;  // the ticks count milliseconds
constexpr std::int64_t kMinute = 60 * kSecond;
constexpr std::int64_t kHour = 60 * kMinute;
constexpr std::int64_t kDay = 24 * kHour;

enum class Unit { kFixed, kMonth, kYear };

// Steps in the order tried, the first that fits is taken. Every fixed
// step below a day divides a day, so its ticks fall on the same clock
// readings every day; weeks begin on Mondays.
struct StepSize {
    const char* name;
    Unit unit;
    std::int64_t size;  // milliseconds, or months, or years
};

constexpr StepSize kSteps[] = {
    {"0.1 s", Unit::kFixed, 100},          {"0.2 s", Unit::kFixed, 200},
    {"0.5 s", Unit::kFixed, 500},          {"1 s", Unit::kFixed, kSecond},
    {"2 s", Unit::kFixed, 2 * kSecond},    {"5 s", Unit::kFixed, 5 * kSecond},
    {"10 s", Unit::kFixed, 10 * kSecond},  {"15 s", Unit::kFixed, 15 * kSecond},
    {"30 s", Unit::kFixed, 30 * kSecond},  {"1 min", Unit::kFixed, kMinute},
    {"2 min", Unit::kFixed, 2 * kMinute},  {"5 min", Unit::kFixed, 5 * kMinute},
    {"10 min", Unit::kFixed, 10 * kMinute}, {"15 min", Unit::kFixed, 15 * kMinute},
    {"30 min", Unit::kFixed, 30 * kMinute}, {"1 h", Unit::kFixed, kHour},
    {"2 h", Unit::kFixed, 2 * kHour},      {"3 h", Unit::kFixed, 3 * kHour},
    {"6 h", Unit::kFixed, 6 * kHour},      {"12 h", Unit::kFixed, 12 * kHour},
    {"1 day", Unit::kFixed, kDay},         {"2 days", Unit::kFixed, 2 * kDay},
    {"7 days", Unit::kFixed, 7 * kDay},    {"14 days", Unit::kFixed, 14 * kDay},
    {"1 month", Unit::kMonth, 1},          {"2 months", Unit::kMonth, 2},
    {"3 months", Unit::kMonth, 3},         {"6 months", Unit::kMonth, 6},
    {"1 year", Unit::kYear, 1},            {"2 years", Unit::kYear, 2},
    {"5 years", Unit::kYear, 5},           {"10 years", Unit::kYear, 10},
    {"20 years", Unit::kYear, 20},         {"50 years", Unit::kYear, 50},
    {"100 years", Unit::kYear, 100},
};

// 1970-01-05 was a Monday.
constexpr std::int64_t kFirstMonday = 4 * kDay;

std::int64_t CeilToMultiple(std::int64_t value, std::int64_t step, std::int64_t origin) {
    const std::int64_t from = value - origin;
    std::int64_t ticks = from / step;
    if (ticks * step < from)
        ++ticks;
    return origin + ticks * step;
}

// Months counted from year 0.
std::int64_t MonthIndex(const Reading& reading) {
    return static_cast<std::int64_t>(reading.year) * 12 + (reading.month - 1);
}

std::int64_t MonthStart(std::int64_t month_index) {
    const int year = static_cast<int>(month_index / 12);
    const int month = static_cast<int>(month_index % 12) + 1;
    return StoredTime::DaySeconds(year, month, 1) * kSecond;
}

// Tick times of one step from `start` to `end`, at most `limit` + 1 of
// them (one more tells the step does not fit).
std::vector<std::int64_t> TickTimes(const StepSize& step, std::int64_t start, std::int64_t end,
                                    std::size_t limit) {
    std::vector<std::int64_t> times;
    if (step.unit == Unit::kFixed) {
        const std::int64_t origin = step.size % (7 * kDay) == 0 ? kFirstMonday : 0;
        for (std::int64_t at = CeilToMultiple(start, step.size, origin);
             at <= end && times.size() <= limit; at += step.size)
            times.push_back(at);
        return times;
    }
    const std::int64_t months = step.unit == Unit::kMonth ? step.size : 12 * step.size;
    const std::int64_t first = MonthIndex(StoredTime::ReadingOf(start));
    for (std::int64_t index = CeilToMultiple(first, months, 0); times.size() <= limit;
         index += months) {
        const std::int64_t at = MonthStart(index);
        if (at > end)
            break;
        if (at >= start)
            times.push_back(at);
    }
    return times;
}

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string DateText(const Reading& r) {
    return std::to_string(r.year) + '-' + TwoDigits(r.month) + '-' + TwoDigits(r.day);
}

std::string Label(const StepSize& step, std::int64_t at) {
    const Reading r = StoredTime::ReadingOf(at);
    if (step.unit == Unit::kYear)
        return std::to_string(r.year);
    if (step.unit == Unit::kMonth)
        return std::to_string(r.year) + '-' + TwoDigits(r.month);
    if (step.size >= kDay)
        return DateText(r);
    std::string label = TwoDigits(r.hour) + ':' + TwoDigits(r.minute);
    if (step.size < kMinute)
        label += ':' + TwoDigits(r.second);
    if (step.size < kSecond)
        label += '.' + std::to_string(r.millisecond / 100);
    return label;
}

}  // namespace

TimeAxis::TimeAxis(double first, double last) : start_(first), end_(last) {
    if (end_ < start_)
        std::swap(start_, end_);
    if (end_ - start_ < kShortestSpanSeconds) {
        const double middle = (start_ + end_) / 2.0;
        start_ = middle - kShortestSpanSeconds / 2.0;
        end_ = middle + kShortestSpanSeconds / 2.0;
    }
    const auto start = static_cast<std::int64_t>(std::floor(start_ * 1000.0));
    const auto end = static_cast<std::int64_t>(std::ceil(end_ * 1000.0));
    const StepSize* chosen = &kSteps[std::size(kSteps) - 1];
    std::vector<std::int64_t> times;
    for (const StepSize& step : kSteps) {
        times = TickTimes(step, start, end, kMostTicks);
        if (times.size() <= static_cast<std::size_t>(kMostTicks)) {
            chosen = &step;
            break;
        }
    }
    step_ = chosen->name;
    const bool time_of_day = chosen->unit == Unit::kFixed && chosen->size < kDay;
    std::int64_t last_day = 0;
    for (std::size_t i = 0; i < times.size(); ++i) {
        std::string label = Label(*chosen, times[i]);
        const std::int64_t day = times[i] / kDay - (times[i] % kDay < 0 ? 1 : 0);
        if (time_of_day && (i == 0 || day != last_day))
            label += '\n' + DateText(StoredTime::ReadingOf(times[i]));
        last_day = day;
        ticks_.push_back(Tick{static_cast<double>(times[i]) / 1000.0, label});
    }
}
