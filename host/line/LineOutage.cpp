#include "LineOutage.h"

#include "BenchError.h"
#include "SerialLine.h"

#include <boost/date_time/posix_time/posix_time.hpp>

namespace {

// The wall clock, "HH:MM:SS", for the moments a line goes and comes back.
std::string WallClock() {
    return boost::posix_time::to_simple_string(
        boost::posix_time::second_clock::local_time().time_of_day());
}

}  // namespace

void LineOutage::Begin() {
    gone_since_ = Clock::now();
    gone_at_ = WallClock();
    ++outages_;
    out_ << "line gone at " << gone_at_ << ": " << line_.GoneMessage()
         << "; waiting for it to come back" << std::endl;
    line_.Close();
}

void LineOutage::AwaitReturn(std::function<void()> back) {
    reopen_timer_.expires_after(kPace);
    reopen_timer_.async_wait([this, back](const boost::system::error_code& error) {
        if (error || !gone_since_)
            return;
        if (!line_.DevicePresent()) {
            AwaitReturn(back);
            return;
        }
        try {
            line_.Reopen();
        } catch (const BenchError&) {  // there, but not yet to be opened
            AwaitReturn(back);
            return;
        }
        const Clock::duration away = Clock::now() - *gone_since_;
        total_ += away;
        gone_since_.reset();
        out_ << "line back at " << WallClock() << " after "
             << std::chrono::duration_cast<std::chrono::seconds>(away).count() << " s" << std::endl;
        back();
    });
}

void LineOutage::End() {
    reopen_timer_.cancel();
    if (gone_since_)
        total_ += Clock::now() - *gone_since_;
    gone_since_.reset();
}
