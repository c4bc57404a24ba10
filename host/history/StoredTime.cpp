#include "StoredTime.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <cstdio>

namespace StoredTime {

namespace {

constexpr std::int64_t kDay = 86400;

// Days from 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Reads `count` digits at `at`; false unless all are digits.
bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// "YYYY-MM-DD" at the start of `text`, checked against the calendar.
std::optional<std::int64_t> DateSeconds(std::string_view text) {
    int year = 0;
    int month = 0;
    int day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
        !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day))
        return std::nullopt;
    if (year < 1400 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kDay;
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.f..." from `at` to the end of `text`.
std::optional<double> TimeOfDaySeconds(std::string_view text, std::size_t at, bool seconds_needed) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!Digits(text, at, 2, hour) || at + 5 > text.size() || text[at + 2] != ':' ||
        !Digits(text, at + 3, 2, minute) || hour > 23 || minute > 59)
        return std::nullopt;
    double seconds = 3600.0 * hour + 60.0 * minute;
    std::size_t next = at + 5;
    if (next == text.size())
        return seconds_needed ? std::nullopt : std::optional<double>(seconds);
    if (text[next] != ':' || !Digits(text, next + 1, 2, second) || second > 59)
        return std::nullopt;
    seconds += second;
    next += 3;
    if (next == text.size())
        return seconds;
    if (text[next] != '.' || next + 1 == text.size())
        return std::nullopt;
    double scale = 0.1;
    for (std::size_t i = next + 1; i < text.size(); ++i, scale /= 10.0) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
        seconds += scale * (text[i] - '0');
    }
    return seconds;
}

// What the history held before this parser: boost's reading, for the texts
// of other shapes.
std::optional<double> BoostSeconds(std::string_view text) {
    namespace pt = boost::posix_time;
    try {
        const pt::ptime stored = pt::time_from_string(std::string(text));
        if (stored.is_special())
            return std::nullopt;
        const pt::ptime epoch(boost::gregorian::date(1970, 1, 1));
        return static_cast<double>((stored - epoch).total_milliseconds()) / 1000.0;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

// The bench host writes one shape, read here without allocating; any other
// goes the long way.
std::optional<double> Seconds(std::string_view text) {
    if (text.size() == 23 && text[10] == ' ' && text[19] == '.') {
        const std::optional<std::int64_t> date = DateSeconds(text);
        int hour = 0;
        int minute = 0;
        int second = 0;
        int millisecond = 0;
        if (date && Digits(text, 11, 2, hour) && text[13] == ':' && Digits(text, 14, 2, minute) &&
            text[16] == ':' && Digits(text, 17, 2, second) && Digits(text, 20, 3, millisecond) &&
            hour <= 23 && minute <= 59 && second <= 59)
            return static_cast<double>(*date * 1000 + hour * 3600000LL + minute * 60000LL +
                                       second * 1000LL + millisecond) /
                   1000.0;
    }
    return BoostSeconds(text);
}

std::optional<Typed> ParseTyped(std::string_view text) {
    const std::optional<std::int64_t> date = DateSeconds(text);
    if (!date)
        return std::nullopt;
    if (text.size() == 10)
        return Typed{static_cast<double>(*date), true};
    if (text[10] != ' ' && text[10] != 'T')
        return std::nullopt;
    const std::optional<double> time_of_day = TimeOfDaySeconds(text, 11, false);
    if (!time_of_day)
        return std::nullopt;
    return Typed{static_cast<double>(*date) + *time_of_day, false};
}

Reading ReadingOf(std::int64_t milliseconds) {
    std::int64_t days = milliseconds / (kDay * 1000);
    std::int64_t rest = milliseconds % (kDay * 1000);
    if (rest < 0) {
        rest += kDay * 1000;
        --days;
    }
    // The inverse of DaysFromCivil.
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(z - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;
    Reading reading;
    reading.day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    reading.month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    reading.year = static_cast<int>(static_cast<std::int64_t>(year_of_era) + era * 400 +
                                    (reading.month <= 2));
    reading.hour = static_cast<int>(rest / 3600000);
    reading.minute = static_cast<int>(rest / 60000 % 60);
    reading.second = static_cast<int>(rest / 1000 % 60);
    reading.millisecond = static_cast<int>(rest % 1000);
    return reading;
}

std::int64_t DaySeconds(int year, int month, int day) {
    return DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kDay;
}

std::string Text(std::int64_t milliseconds) {
    const Reading r = ReadingOf(milliseconds);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", r.year, r.month, r.day,
                  r.hour, r.minute, r.second, r.millisecond);
    return text;
}

}  // namespace StoredTime
