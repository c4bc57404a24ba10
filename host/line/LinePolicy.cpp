#include "LinePolicy.h"

#include <algorithm>

// The silent interval separates two frames; it is not enough when the line
// is in doubt: a busy meter starts its next queued answer a few characters
// after the last one ends (4 characters for the simulated meter, longer
// than the 3.5 of the silent interval). A meter that has been answering
// starts what it still has queued within the answer timeout, so that much
// silence is enough; a request that drew nothing at all keeps the line
// quiet up to the late limit instead (owed_until_).
LinePolicy::Clock::duration LinePolicy::QuietBeforeRequest() const {
    return doubtful_ ? times_.settle : times_.silent_interval;
}

LinePolicy::Clock::time_point LinePolicy::RequestNotBefore(Clock::time_point last_activity) const {
    return std::max(last_activity + QuietBeforeRequest(), owed_until_);
}

bool LinePolicy::InDoubt(std::uint8_t station) const {
    return doubtful_ || owing_.count(station) != 0;
}

// In doubt the line must stay silent for the answer timeout; otherwise the
// silent interval, and as long again as the line's delivery may hold bytes
// back, ends the frame and the record waits on.
LinePolicy::Clock::duration LinePolicy::AnswerQuiet(std::uint8_t station) const {
    return InDoubt(station) ? times_.settle
                            : std::min(times_.settle, times_.silent_interval + pauses_.Longest());
}

// A frame queued behind an answer begins within a few characters of its
// end; one answer's time of silence leaves none to come.
LinePolicy::Clock::duration LinePolicy::PendingQuiet() const {
    return std::min(times_.settle, times_.follow_window);
}

// The request's end and the 1.5 characters that end a frame, and the first
// character of the answer.
LinePolicy::Clock::time_point LinePolicy::EarliestAnswerStart(Clock::time_point request_end) const {
    return request_end + times_.character * 5 / 2;
}

void LinePolicy::Lost(std::uint8_t station, LossReason reason, Clock::time_point request_end) {
    doubtful_ = true;
    owing_.insert(station);
    if (reason == LossReason::kNoAnswer)
        owed_until_ = std::max(owed_until_, request_end + times_.late_limit);
}

void LinePolicy::Confirmed(std::uint8_t station) {
    owing_.erase(station);
    doubtful_ = false;
}
