#pragma once

#include "BenchSink.h"
#include "Exchange.h"
#include "HistoryWriter.h"
#include "LateWatch.h"
#include "LineHints.h"
#include "LineOutage.h"
#include "LinePolicy.h"
#include "MeterLineup.h"
#include "PendingRecord.h"
#include "PollStatistics.h"
#include "RoundBook.h"
#include "RoundLoopSettings.h"
#include "RoundTable.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class HistoryStore;
class PluginTraceCapture;
class SerialLine;

// Drives the configured meters of one line the way the controller does:
// at every round each meter in turn, one exchange at a time: RefreshStatus
// (the meter sends its request), then each chunk of received bytes to
// process() until it holds the whole answer, or the answer timeout ends
// the exchange as lost. Rounds start every interval; no request goes out
// before the line has been quiet for the silent interval.
//
// What reaches the meter is judged first (Exchange): the echo, the station
// address, an answer too early to be this request's, the checksum. A
// decoded answer's record is held until the line shows it was this
// request's (LinePolicy states the rule, PendingRecord holds the record).
//
// Records go to the history's own writer (HistoryWriter), so the rounds
// never wait for the disk; the run's end stores what it handed over. A
// history the writer gives up on ends the run as failed.
//
// SIGINT, SIGTERM and SIGHUP (StopSignals, held from the start of main)
// stop at once, cutting an exchange short; the records that wait for another
// program's lock on the history then are not stored. So does a standard
// output that cannot be written any more. A stop that came during
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
              const RoundLoopSettings& options);

    // Re-loads each device's newest stored record, then polls until the
    // rounds are done or a stop signal comes. Throws BenchError when the
    // line or the history fails, after writing the summary.
    void Run();

    std::uint64_t Completed() const { return book_.Completed(); }
    std::uint64_t Lost() const { return book_.Lost(); }

private:
    enum class Phase {
        kIdle,            // between exchanges
        kAwaitingAnswer,  // request sent, bytes go to the meter
        kAnswered,        // the whole answer decoded, its record held, the line watched
    };
    using Outcome = RoundBook::Outcome;
    using ExchangeEnd = RoundBook::ExchangeEnd;
    enum class Ending { kDone, kStopped, kFailed };
    enum class MeterTook { kMore, kDecoded, kEnded };

    MeterLineup::Meter& Current() { return meters_.At(current_); }
    void LoadNewestRecord(MeterLineup::Meter& meter);
    void ScheduleExchange(Clock::time_point at);
    void BeginExchange();
    void NoteQuietWait(Clock::time_point now);
    void Receive();
    void OnReceived(unsigned char* data, std::size_t len);
    void TakeExchangeBytes(unsigned char* data, std::size_t len, Clock::time_point at);
    void JudgeNextAnswerStart(Clock::time_point at);
    MeterTook GiveToMeter(unsigned char* data, std::size_t len);
    void Answered(const unsigned char* tail, std::size_t len);
    void WatchAnswered(std::uint64_t exchange);
    void AnswerStands();
    void OnAnswerTimeout(std::uint64_t exchange);
    void SettleLateWatch();
    void CommitPending();
    void DropPending(const std::string& note);
    void FinishIfDone();
    void Lose(LossReason reason, const std::string& note);
    void EndExchange(Outcome outcome, const std::string& note);
    ExchangeEnd EndOf(Outcome outcome, const std::string& note, bool decoded_but_dropped);
    void Hint(const std::optional<std::string>& hint);
    void ScheduleNext(Clock::time_point not_before = Clock::time_point());
    void OnLineGone();
    void LoseWhileGone();
    void OnStopSignal();
    void Finish(Ending ending);
    void WriteSummary(Ending ending, std::ostream& report);
    void WriteStatistics(Ending ending, std::ostream& report);
    std::ostream& Report();
    std::vector<std::string> TakeDetails();
    void ShowDetails() { book_.ShowDetails(TakeDetails()); }

    boost::asio::io_context& io_;
    SerialLine& line_;
    MeterLineup& meters_;
    HistoryStore& history_;
    PluginTraceCapture& trace_;
    std::ostream& out_;
    const RoundLoopSettings options_;
    HistoryWriter writer_;
    BenchSink sink_;
    RoundTable table_;
    PollStatistics statistics_;
    LineHints hints_;
    RoundBook book_;
    boost::asio::steady_timer round_timer_;
    boost::asio::steady_timer answer_timer_;
    boost::asio::posix::stream_descriptor stop_signals_;
    Exchange::Line exchange_line_;
    Clock::duration interval_;
    Clock::duration answer_timeout_;
    LinePolicy policy_;
    LineOutage outage_;
    PendingRecord pending_;
    LateWatch late_watch_;

    std::uint64_t round_ = 0;
    std::size_t current_ = 0;  // the meter of the exchange in progress or next
    std::uint64_t dropped_bytes_ = 0;
    std::uint64_t exchange_number_ = 0;
    Phase phase_ = Phase::kIdle;
    bool stop_requested_ = false;
    bool rounds_done_ = false;  // the last round is over; a pending record still waits
    bool finished_ = false;
    Clock::time_point round_started_;
    Clock::time_point last_activity_;
    std::optional<Clock::time_point> quiet_wait_since_;  // a request waiting for a quiet line
    std::optional<Exchange> exchange_;
    std::vector<unsigned char> request_;  // as the meter sent it
    bool decoded_ = false;                // the meter published a record
    std::optional<AnswerTail> answer_tail_;  // while Answered
    BenchSink::Held answered_records_;       // while Answered
    Clock::time_point answer_end_;
};
