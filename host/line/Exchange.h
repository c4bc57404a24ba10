#pragma once

#include "LossReason.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One request and what the line brings back for it, judged from the bytes
// and their arrival times alone: no I/O, no meter. The round loop feeds it
// every chunk the line delivers and hands the meter what it says.
//
// What an answer must be before the meter gets its last byte:
// - after the adapter's echo of the request (when there is one), the first
//   byte is the meter's station address;
// - it ends no sooner after the request than the line can carry it: a gap
//   shorter than 1.5 characters does not even end a frame, so an answer
//   needs at least that and its own 58 characters. One that is whole
//   sooner was on its way before the meter heard the request: a copy, a
//   neighbour's, or one queued behind another;
// - its checksum matches its bytes (unless the checksum is left to the
//   meter, as some controllers do).
// Bytes past the 58th are not the meter's: they are the answer's tail
// (AnswerTail).
class Exchange {
public:
    using Clock = std::chrono::steady_clock;

    struct Line {
        Clock::duration character;  // one character on the line
        std::size_t answer_length;  // the driver's fixed block
        bool echo = false;          // the adapter returns the request first
        bool check_checksum = true;
    };

    struct Loss {
        LossReason reason;
        std::string note;  // "lost: ..."
    };

    // What to do with one chunk: hand [meter_begin, meter_begin + meter_len)
    // to the meter; with `answered`, the meter now holds the whole answer and
    // the bytes from `tail_begin` on follow it. A loss ends the exchange.
    struct Step {
        std::size_t echoed = 0;  // bytes of the adapter's echo at the front
        std::size_t meter_begin = 0;
        std::size_t meter_len = 0;
        bool answered = false;
        std::size_t tail_begin = 0;
        std::optional<Loss> loss;
    };

    Exchange(const Line& line, std::uint8_t station, std::vector<unsigned char> request,
             Clock::time_point request_end);

    Step Feed(const unsigned char* data, std::size_t len, Clock::time_point at);
    // Why nothing whole came within the timeout.
    Loss TimedOut(unsigned long timeout_ms) const;

    // The least time from a request's end to its whole answer.
    static Clock::duration AnswerFloor(const Line& line);
    // How long after an answer's end a frame queued behind it may still
    // begin: one answer's time.
    static Clock::duration FollowWindow(const Line& line);

    const std::vector<unsigned char>& Request() const { return request_; }
    Clock::time_point RequestEnd() const { return request_end_; }
    const std::vector<unsigned char>& Answer() const { return answer_; }
    std::size_t Chunks() const { return chunks_; }
    // When the first byte past the echo came; unset while none has.
    const std::optional<Clock::time_point>& FirstByteAt() const { return first_byte_at_; }
    // The longest wait between two chunks of the answer: how long the line's
    // delivery held bytes back within one frame.
    Clock::duration LongestPause() const { return longest_pause_; }
    // Whether the echo's bytes are the start of the answer (no --echo on an
    // echoing line).
    bool AnswerStartsWithRequest() const;
    // Whether bytes that came where the echo should be may be another frame
    // rather than the echo garbled on the line: more than one of them differs
    // from the request.
    bool EchoMayBeAFrame() const;

private:
    std::size_t TakeEcho(const unsigned char* data, std::size_t len, std::optional<Loss>& loss);
    std::optional<Loss> JudgeWholeAnswer(Clock::time_point at) const;

    Line line_;
    std::uint8_t station_;
    std::vector<unsigned char> request_;
    Clock::time_point request_end_;
    std::vector<unsigned char> echo_;
    std::vector<unsigned char> answer_;
    std::size_t chunks_ = 0;
    std::optional<Clock::time_point> first_byte_at_;
    Clock::time_point last_chunk_at_;
    Clock::duration longest_pause_{};
};

// How long the line may hold an answer's bytes back: an adapter that hands
// bytes over in bursts (a USB adapter's latency timer, a gateway's packets)
// pauses mid-frame as long, so a silence no longer than that after an
// answer does not show that nothing follows it. The longest pause within
// the last few answers beyond a character's own time, so that one stall of
// the machine does not slow the line for good.
class DeliveryPauses {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kAnswersKept = 8;

    // `character`: a byte's own time on the line, which any pause between
    // bytes delivered one by one takes.
    explicit DeliveryPauses(Clock::duration character) : character_(character) {}

    void Answered(Clock::duration longest_pause);
    Clock::duration Longest() const;

private:
    Clock::duration character_;
    std::vector<Clock::duration> recent_;
    std::size_t next_ = 0;
};

// The bytes that follow a whole answer while its record waits. A frame
// starts with a station address (StationAddress): such a byte may begin another
// answer (a copy, a neighbour's, the one queued behind a late answer) and
// voids the record. A byte that cannot begin a frame (0, 248..255) is a
// glitch of the line, such as an RS-485 driver switching off; a few of them
// leave the answer standing.
class AnswerTail {
public:
    static constexpr std::size_t kMostStrayBytes = 4;

    // False once the tail may be another answer.
    bool Feed(const unsigned char* data, std::size_t len);
    bool Harmless() const { return harmless_; }
    std::size_t Bytes() const { return bytes_; }
    // "3 more bytes followed the answer, ..."; for a tail that is not harmless.
    std::string Note() const;

    static bool CanBeginFrame(std::uint8_t byte);

private:
    std::size_t bytes_ = 0;
    bool harmless_ = true;
};
