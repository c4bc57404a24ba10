#pragma once

#include "Exchange.h"
#include "LossReason.h"

#include <chrono>
#include <cstdint>
#include <set>

// When a request may go out, and when a decoded answer's record may be
// stored. A Modbus answer does not say which request it answers; the rule,
// stated once:
//
//   An answer is a request's own when it came after the request could be
//   heard and nothing that may be another answer follows it. So a record is
//   stored once the line has stayed quiet after its answer (stray bytes
//   that cannot begin a frame aside), or once the next request's answer is
//   whole in its own time; bytes that may begin a frame right after it
//   (within the silent interval and the longest pause the line's delivery
//   has shown within an answer), a next answer that begins or is whole too
//   early to be the next request's, or bytes where the next request's echo
//   should be that are not it and may be a frame, drop it.
//   A station whose exchange was lost owes an answer, and keeps owing it
//   until one of its own answers has been confirmed by the line staying
//   silent for the answer timeout after it; other stations' exchanges do
//   not settle it. After a request that drew nothing at all, nothing is
//   sent to any station until the late limit has passed; after any other
//   loss, or bytes outside an exchange, the host doubts the line: the next
//   request waits for the answer timeout's silence, and the next answer is
//   confirmed the same way.
//
// One case remains that no host can tell: a whole, valid frame of a station
// (an answer later than the late limit, a copy of an earlier answer, its
// answer to another station's request) that lands in that station's next
// exchange in the time its answer could, when the meter sends nothing of
// its own for that request.
class LinePolicy {
public:
    using Clock = std::chrono::steady_clock;

    struct Times {
        Clock::duration character;        // one character on the line
        Clock::duration silent_interval;  // the silence that ends a frame
        Clock::duration settle;           // the answer timeout: the silence of a line in doubt
        Clock::duration late_limit;       // an unanswered request's answer may come until then
        Clock::duration follow_window;    // a frame queued behind an answer begins within it
    };

    explicit LinePolicy(const Times& times) : times_(times), pauses_(times.character) {}

    // The silence the line needs before the next request.
    Clock::duration QuietBeforeRequest() const;
    // The earliest the next request may go, the line last busy at `last_activity`.
    Clock::time_point RequestNotBefore(Clock::time_point last_activity) const;
    // Until then the answer of a request that drew nothing may still come.
    Clock::time_point OwedUntil() const { return owed_until_; }

    bool InDoubt(std::uint8_t station) const;
    // The silence after a decoded answer of `station` that lets it stand.
    Clock::duration AnswerQuiet(std::uint8_t station) const;
    // The silence after a standing answer that stores its record.
    Clock::duration PendingQuiet() const;
    // An answer's first byte sooner than this follows the answer before,
    // not the request that ended at `request_end`.
    Clock::time_point EarliestAnswerStart(Clock::time_point request_end) const;

    // A whole answer came, its chunks at most `longest_pause` apart.
    void Delivered(Clock::duration longest_pause) { pauses_.Answered(longest_pause); }
    // Bytes outside an exchange, or a line that has just come back.
    void Doubt() { doubtful_ = true; }
    // An exchange of `station` lost, its request ended at `request_end`.
    void Lost(std::uint8_t station, LossReason reason, Clock::time_point request_end);
    // An answer of `station` confirmed by the line's silence.
    void Confirmed(std::uint8_t station);

private:
    Times times_;
    DeliveryPauses pauses_;
    bool doubtful_ = false;
    std::set<std::uint8_t> owing_;  // stations whose answer is owed
    Clock::time_point owed_until_;
};
