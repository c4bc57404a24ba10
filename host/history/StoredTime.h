#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The history's clock. A row's stored_at is the local time it was stored,
// "YYYY-MM-DD HH:MM:SS.mmm", without a zone; it is counted here in seconds
// from 1970-01-01 00:00 of that same clock, so that every day has 86400 s
// and a time shows again as the clock reading it was.
namespace StoredTime {

// Seconds of a stored_at text; nothing when it is not a time.
std::optional<double> Seconds(std::string_view text);

// A time typed by a person: "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or
// "YYYY-MM-DD HH:MM:SS" (with a fraction of a second if wanted).
struct Typed {
    double seconds = 0.0;
    bool date_only = false;  // no time of day given
};
std::optional<Typed> ParseTyped(std::string_view text);

// The calendar reading of a count of milliseconds.
struct Reading {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};
Reading ReadingOf(std::int64_t milliseconds);
// Midnight that begins a day, in seconds; month and day are not checked.
std::int64_t DaySeconds(int year, int month, int day);

// "YYYY-MM-DD HH:MM:SS.mmm".
std::string Text(std::int64_t milliseconds);

}  // namespace StoredTime
