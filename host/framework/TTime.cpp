#include "TTime.h"

#include <boost/date_time/posix_time/posix_time.hpp>

TTime get_ttime(boost::posix_time::ptime time) {
    TTime packed{};
    if (time.is_special())
        return packed;
    const boost::gregorian::date day = time.date();
    const boost::posix_time::time_duration clock = time.time_of_day();
    packed.year = static_cast<std::uint16_t>(day.year());
    packed.month = static_cast<std::uint8_t>(day.month());
    packed.day = static_cast<std::uint8_t>(day.day());
    packed.hour = static_cast<std::uint8_t>(clock.hours());
    packed.minute = static_cast<std::uint8_t>(clock.minutes());
    packed.second = static_cast<std::uint8_t>(clock.seconds());
    return packed;
}
