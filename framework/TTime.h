#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>

// The framework's packed 7-byte time, as carried in measurement records:
//
//   offset 0..1  year, 16-bit little-endian
//   offset 2     month   1..12
//   offset 3     day     1..31
//   offset 4     hour    0..23
//   offset 5     minute  0..59
//   offset 6     second  0..59
//
// A time that is not a date (boost's special values) packs as seven zero
// bytes.
struct __attribute__((packed)) TTime {
    std::uint16_t year;
    std::uint8_t month;
    std::uint8_t day;
    std::uint8_t hour;
    std::uint8_t minute;
    std::uint8_t second;
};

static_assert(sizeof(TTime) == 7, "TTime is a 7-byte stored format");

TTime get_ttime(boost::posix_time::ptime time);
