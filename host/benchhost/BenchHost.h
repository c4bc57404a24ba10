#pragma once

#include "BenchSink.h"
#include "LossReason.h"
#include "MeterLineup.h"
#include "PollStatistics.h"
#include "RoundTable.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class HistoryStore;
class PluginTraceCapture;
class SerialLine;
struct BenchOptions;

// Drives the configured meters of one line the way the controller does:
// at every round each meter in turn, one exchange at a time: RefreshStatus
// (the meter sends its request), then each chunk of received bytes to
// process() until it reports the exchange over, or the answer timeout ends
// it as lost. Rounds start every interval; no request goes out before the
// line has been quiet for the silent interval; bytes that arrive outside an
// exchange are dropped.
//
// A meter gets only the bytes of its own exchange, and only when the first
// of them is its station address: an answer from another station (a late
// one, a wrong one) or noise ends the exchange as lost without reaching it.
// Once a whole answer is in, its checksum must match its bytes, or the
// exchange is lost before the meter decodes it. With an echoing adapter,
// the echo of the request is checked and dropped first; one that differs
// from the request ends the exchange as lost.
//
// A Modbus answer does not say which request it answers, so after a
// request that drew no answer at all the host sends nothing, to any
// station, until the late limit has passed since that request: a late
// answer comes while the line is quiet and is dropped, never taken for the
// next request's. After any other lost exchange, or bytes outside an
// exchange, the host doubts the line: it sends no request until the line
// has been silent for the answer timeout, and holds back the record of the
// next decoded answer until the line has stayed silent that long after it:
// bytes that follow (a second answer queued behind a late one) drop the
// record and lose the round.
//
// SIGINT, SIGTERM and SIGHUP (StopSignals, held from the start of main)
// stop at once, cutting an exchange short; so do a stop while a record waits
// for another program's lock on the history (the record is not stored) and a
// standard output that cannot be written any more. A stop that came during
// set-up ends the run before its first poll. The summary line and then the
// statistics end every run, also one that a failure ends (with --stats-json
// also written to their file); on standard error when standard output is
// gone.
class BenchHost {
public:
    using Clock = std::chrono::steady_clock;

    // `options.timeout_ms` is the answer timeout in use (not 0).
    BenchHost(boost::asio::io_context& io, SerialLine& line, MeterLineup& meters,
              HistoryStore& history, PluginTraceCapture& trace, std::ostream& out,
              const BenchOptions& options);

    // Re-loads each device's newest stored record, then polls until the
    // rounds are done or a stop signal comes. Throws BenchError when the
    // line or the history fails, after writing the summary.
    void Run();

    std::uint64_t Completed() const { return completed_; }
    std::uint64_t Lost() const { return lost_; }

private:
    enum class Phase {
        kIdle,            // between exchanges
        kAwaitingAnswer,  // request sent, bytes go to the meter
        kConfirming,      // an answer decoded in doubt, its record held back
    };
    enum class Outcome { kCompleted, kLost, kStopped };
    enum class Ending { kDone, kStopped, kFailed };

    // How one exchange ended: all a round's bookkeeping needs.
    struct ExchangeEnd {
        const MeterLineup::Meter& meter;
        Outcome outcome;
        std::string reason;  // empty for a completed exchange
        Clock::duration response_time;  // from the request to the end
        bool decoded_but_dropped;
        LossReason loss_reason;  // for a lost exchange
        Clock::time_point answer_end;  // of a completed one: its last byte's arrival
    };

    MeterLineup::Meter& Current() { return meters_.At(current_); }
    void LoadNewestRecord(MeterLineup::Meter& meter);
    void ScheduleExchange(Clock::time_point at);
    Clock::duration QuietBeforeRequest() const;
    void BeginExchange();
    void Receive();
    void OnReceived(unsigned char* data, std::size_t len);
    void TakeExchangeBytes(unsigned char* data, std::size_t len);
    std::size_t TakeEcho(const unsigned char* data, std::size_t len);
    void GiveToMeter(unsigned char* data, std::size_t len);
    bool AnswerChecksumMatches() const;
    void OnAnswerTimeout(std::uint64_t exchange);
    void ConfirmWhenQuiet(std::uint64_t exchange);
    void Confirm();
    void EndExchange(Outcome outcome, const std::string& note);
    void Lose(LossReason reason, const std::string& note);
    static LossReason ReasonForStranger(std::uint8_t first_byte);
    void CountForStatistics(const ExchangeEnd& end);
    void WriteStatistics(Ending ending, std::ostream& report);
    void Record(const ExchangeEnd& end);
    void ScheduleNext();
    void OnStopSignal();
    void Finish(Ending ending);
    void WriteSummary(Ending ending, std::ostream& report);
    std::ostream& Report();
    void ShowDetails();
    std::string LostNote() const;
    LossReason TimeoutReason() const;

    boost::asio::io_context& io_;
    SerialLine& line_;
    MeterLineup& meters_;
    HistoryStore& history_;
    PluginTraceCapture& trace_;
    std::ostream& out_;
    const BenchOptions& options_;
    BenchSink sink_;
    RoundTable table_;
    PollStatistics statistics_;
    boost::asio::steady_timer round_timer_;
    boost::asio::steady_timer answer_timer_;
    boost::asio::posix::stream_descriptor stop_signals_;
    Clock::duration interval_;
    Clock::duration answer_timeout_;
    Clock::duration settle_time_;
    Clock::duration late_limit_;

    std::uint64_t round_ = 0;
    std::size_t current_ = 0;  // the meter of the exchange in progress or next
    std::uint64_t completed_ = 0;
    std::uint64_t lost_ = 0;
    std::uint64_t cut_round_ = 0;
    std::uint64_t dropped_bytes_ = 0;
    std::uint64_t exchange_ = 0;
    Phase phase_ = Phase::kIdle;
    bool doubtful_ = false;
    bool stop_requested_ = false;
    bool finished_ = false;
    Clock::time_point round_started_;
    Clock::time_point request_sent_;
    Clock::time_point request_end_;  // the request's last byte on the line
    Clock::time_point owed_until_;  // an unanswered request's answer may come until then
    Clock::time_point last_activity_;
    Clock::time_point answer_end_;  // when the decoded answer's last chunk came
    LossReason loss_reason_ = LossReason::kNoAnswer;  // of the exchange being lost
    std::vector<unsigned char> request_;  // as sent, for the echo check
    std::vector<unsigned char> echo_;     // the echo heard so far
    std::vector<unsigned char> answer_;
    std::size_t answer_chunks_ = 0;
    std::size_t followed_bytes_ = 0;
};
