#include "BenchHost.h"

#include "BenchError.h"
#include "BenchOptions.h"
#include "HexText.h"
#include "LossNotes.h"
#include "HistoryStore.h"
#include "MeterRecord.h"
#include "ModbusCrc.h"
#include "ModbusFrame.h"
#include "PluginTraceCapture.h"
#include "QVT7702.h"
#include "SMDSPDevice.h"
#include "SerialLine.h"
#include "StatisticsJson.h"
#include "StatisticsText.h"
#include "StopRequested.h"
#include "StopSignals.h"
#include "WireBudget.h"

#include <boost/asio/post.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include <algorithm>
#include <exception>
#include <iomanip>
#include <iostream>
#include <optional>

#include <unistd.h>

namespace {

MeterKey KeyOf(const MeterLineup::Meter& meter) {
    return MeterKey{meter.station, meter.data_id};
}

}  // namespace

BenchHost::BenchHost(boost::asio::io_context& io, SerialLine& line, MeterLineup& meters,
                     HistoryStore& history, PluginTraceCapture& trace, std::ostream& out,
                     const BenchOptions& options)
    : io_(io),
      line_(line),
      meters_(meters),
      history_(history),
      trace_(trace),
      out_(out),
      options_(options),
      // A history the writer gave up on ends the run from the loop.
      writer_(history.Path(), &StopSignals::Pending,
              [this] {
                  boost::asio::post(io_, [this] {
                      if (!finished_)
                          std::rethrow_exception(writer_.Failure());
                  });
              }),
      sink_(line, writer_, options.verbose),
      table_(out),
      statistics_(WireBudget(line.Settings(), kReadRequestLength, QVT7702::kAnswerLength)),
      round_timer_(io),
      answer_timer_(io),
      pending_timer_(io),
      reopen_timer_(io),
      stop_signals_(io, ::dup(StopSignals::Descriptor())),
      exchange_line_{std::chrono::duration_cast<Clock::duration>(line.Settings().CharacterTime()),
                     QVT7702::kAnswerLength, options.echo, options.check_checksum},
      interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(options.interval_seconds))),
      // The answer can only start once the request is on the line.
      answer_timeout_(std::chrono::milliseconds(options.timeout_ms) +
                      std::chrono::duration_cast<Clock::duration>(
                          line.Settings().CharacterTime() * static_cast<double>(kReadRequestLength))),
      settle_time_(std::chrono::milliseconds(options.timeout_ms)),
      late_limit_(std::chrono::milliseconds(options.late_limit_ms)) {
    for (const MeterLineup::Meter& meter : meters_.Meters())
        statistics_.AddMeter(KeyOf(meter));
}

// The stop signals stay held: one is taken from their descriptor, and a
// second one while the run finishes stays pending, harmless, until the
// process ends.
void BenchHost::Run() {
    stop_signals_.async_wait(boost::asio::posix::descriptor_base::wait_read,
                             [this](const boost::system::error_code& error) {
                                 if (error)
                                     return;
                                 StopSignals::Take();
                                 OnStopSignal();
                             });
    try {
        ShowDetails();  // the plug-in's lines from configuration
        table_.WriteHeader();
        if (StopSignals::Pending()) {  // it came during set-up: nothing is polled or reloaded
            Finish(Ending::kStopped);
            return;
        }
        for (std::size_t i = 0; i < meters_.Size(); ++i)
            LoadNewestRecord(meters_.At(i));
        Receive();
        ScheduleExchange(Clock::now());
        io_.run();
    } catch (const StopRequested&) {  // a wait for the history's lock, given up
        Finish(Ending::kStopped);
    } catch (const RoundTable::OutputGone& gone) {
        std::cerr << "bench_host: " << gone.what() << ": stopping" << std::endl;
        Finish(Ending::kStopped);
    } catch (...) {
        Finish(Ending::kFailed);
        throw;
    }
}

namespace {

// One line for each of the first few stored records the reload passed over.
void NoteSkippedRecords(std::ostream& out, std::uint32_t data_id,
                        const HistoryStore::Refused& skipped) {
    constexpr std::size_t kShown = HistoryStore::Refused::kKept;
    for (std::size_t i = 0; i < skipped.first.size() && i < kShown; ++i) {
        const HistoryRow& row = skipped.first[i];
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        out << "cache: skipped record #" << row.row_id << " stored " << row.stored_at << ": ";
        if (record)
            out << "its own data id is " << record->DataId() << ", not " << data_id;
        else
            out << row.record.size() << " bytes, not a " << MeterRecord::kSize << "-byte record";
        out << '\n';
    }
    if (skipped.count > static_cast<std::int64_t>(kShown))
        out << "cache: skipped " << skipped.count - static_cast<std::int64_t>(kShown)
            << " more records not of data id "
            << data_id << '\n';
}

}  // namespace

// After a restart the controller hands the device its newest stored record,
// which completes a round on it like a fresh answer would. Only a record
// of this device goes back: one that carries another data id would rewrite
// the device's data id, and be stored again under it, at every restart.
void BenchHost::LoadNewestRecord(MeterLineup::Meter& meter) {
    SMDSPDevice& device = *meter.device;
    const std::uint32_t data_id = device.DataId();
    HistoryStore::Refused skipped;
    const std::optional<HistoryRow> newest = history_.Newest(
        data_id,
        [data_id](const HistoryRow& row) {
            const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
            return record && record->DataId() == data_id;
        },
        skipped);
    NoteSkippedRecords(out_, data_id, skipped);
    if (!newest)
        return;
    const std::string blob(newest->record.begin(), newest->record.end());
    const int accepted = device.LoadFromCache(blob);
    sink_.ThrowIfFailed();
    ShowDetails();
    table_.WriteRow("cache", meter.station, device, completed_, lost_,
                    accepted != 0 ? "newest record from history, stored " + newest->stored_at
                                  : "newest record from history refused (" +
                                        std::to_string(newest->record.size()) + " bytes)");
}

namespace {

// The wall clock, "HH:MM:SS", for the moments a line goes and comes back.
std::string WallClock() {
    return boost::posix_time::to_simple_string(
        boost::posix_time::second_clock::local_time().time_of_day());
}

// While the line is gone, its exchanges are counted no faster than this.
constexpr std::chrono::seconds kGonePace{1};

}  // namespace

// The port or the gateway's connection went away (an adapter pulled out, a
// gateway restarted): the exchange in hand is lost, the history kept, and
// the same device is looked for until it is back.
void BenchHost::OnLineGone() {
    if (gone_since_ || finished_)
        return;
    gone_since_ = Clock::now();
    gone_at_ = WallClock();
    ++outages_;
    out_ << "line gone at " << gone_at_ << ": " << line_.GoneMessage()
         << "; waiting for it to come back" << std::endl;
    line_.Close();
    CommitPending();  // nothing more can follow its answer
    if (phase_ != Phase::kIdle)
        Lose(LossReason::kLineGone, LossNotes::LineGone(gone_at_));
    else
        ScheduleExchange(Clock::now());
    TryReopenLater();
}

void BenchHost::TryReopenLater() {
    reopen_timer_.expires_after(kGonePace);
    reopen_timer_.async_wait([this](const boost::system::error_code& error) {
        if (error || finished_ || !gone_since_)
            return;
        if (!line_.DevicePresent()) {
            TryReopenLater();
            return;
        }
        try {
            line_.Reopen();
        } catch (const BenchError&) {  // there, but not yet to be opened
            TryReopenLater();
            return;
        }
        const Clock::duration away = Clock::now() - *gone_since_;
        outage_total_ += away;
        gone_since_.reset();
        out_ << "line back at " << WallClock() << " after "
             << std::chrono::duration_cast<std::chrono::seconds>(away).count() << " s" << std::endl;
        // What the device sends as it comes up is no answer of any request.
        doubtful_ = true;
        last_activity_ = Clock::now();
        Receive();
    });
}

// An exchange whose time came while the line is gone: lost, nothing sent.
void BenchHost::LoseWhileGone() {
    if (current_ == 0) {
        ++round_;
        round_started_ = Clock::now();
    }
    const Clock::time_point now = Clock::now();
    Record(ExchangeEnd{current_, round_, Outcome::kLost, LossNotes::LineGone(gone_at_), false,
                       LossReason::kLineGone, now, now, TakeDetails()});
    ScheduleNext(now + kGonePace);
}

void BenchHost::ScheduleExchange(Clock::time_point at) {
    round_timer_.expires_at(at);
    round_timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error && !finished_)
            BeginExchange();
    });
}

// The silent interval separates two frames; it is not enough when the line
// is in doubt: a busy meter starts its next queued answer a few characters
// after the last one ends (4 characters for the simulated meter, longer
// than the 3.5 of the silent interval). A meter that has been answering
// starts what it still has queued within the answer timeout, so that much
// silence is enough; a request that drew nothing at all keeps the line
// quiet up to the late limit instead (owed_until_).
BenchHost::Clock::duration BenchHost::QuietBeforeRequest() const {
    if (doubtful_)
        return settle_time_;
    return std::chrono::duration_cast<Clock::duration>(line_.Settings().SilentInterval());
}

bool BenchHost::InDoubt(std::uint8_t station) const {
    return doubtful_ || owing_.count(station) != 0;
}

void BenchHost::BeginExchange() {
    const Clock::time_point now = Clock::now();
    if (gone_since_) {
        LoseWhileGone();
        return;
    }
    const Clock::time_point quiet_from = std::max(
        {last_activity_ + QuietBeforeRequest(), owed_until_, line_.EarliestWrite()});
    if (now < quiet_from) {
        NoteQuietWait(now);
        ScheduleExchange(quiet_from);
        return;
    }
    quiet_wait_since_.reset();
    hints_.QuietAgain();
    SettleLateWatch();

    if (current_ == 0) {
        ++round_;
        round_started_ = now;
    }
    phase_ = Phase::kAwaitingAnswer;
    const std::uint64_t exchange = ++exchange_number_;
    sink_.HoldRecords();

    request_sent_ = now;
    Current().device->RefreshStatus();
    try {
        sink_.ThrowIfFailed();
    } catch (const BenchError& failure) {
        // The request could not go out because the device has just gone.
        if (!options_.wait_on_unplug || failure.Code() != ExitCode::kPort || line_.DevicePresent())
            throw;
        phase_ = Phase::kIdle;
        sink_.TakeHeld();
        if (current_ == 0)
            --round_;  // the slot is counted again as lost while the line is gone
        OnLineGone();
        return;
    }
    // The write hands the whole request over at once; its last byte is on
    // the line one request's time later.
    std::vector<unsigned char> request = sink_.LastRequestBytes();
    const Clock::time_point request_end =
        request_sent_ + exchange_line_.character * static_cast<long>(request.size());
    exchange_.emplace(exchange_line_, Current().station, std::move(request), request_end);
    statistics_.RequestSent(KeyOf(Current()), request_end);

    answer_timer_.expires_after(answer_timeout_);
    answer_timer_.async_wait([this, exchange](const boost::system::error_code& error) {
        if (!error)
            OnAnswerTimeout(exchange);
    });
}

// A line that never falls quiet holds every request back; say so while
// waiting, once the wait is long.
void BenchHost::NoteQuietWait(Clock::time_point now) {
    if (!quiet_wait_since_)
        quiet_wait_since_ = now;
    if (now < last_activity_ + QuietBeforeRequest())
        Hint(hints_.WhileWaiting(now - *quiet_wait_since_));
}

void BenchHost::Receive() {
    line_.ReadSome([this](const boost::system::error_code& error, unsigned char* data,
                          std::size_t len) {
        if (finished_ || error == boost::asio::error::operation_aborted)
            return;
        if (error && SerialLine::Gone(error) && options_.wait_on_unplug) {
            OnLineGone();
            return;
        }
        if (error && SerialLine::Gone(error))
            throw BenchError(ExitCode::kPort, line_.GoneMessage());
        if (error)
            throw BenchError(ExitCode::kPort, line_.Name() + " failed: " + error.message());
        OnReceived(data, len);
        if (!finished_)
            Receive();
    });
}

void BenchHost::OnReceived(unsigned char* data, std::size_t len) {
    const Clock::time_point now = Clock::now();
    last_activity_ = now;
    switch (phase_) {
    case Phase::kAwaitingAnswer:
        TakeExchangeBytes(data, len, now);
        return;
    case Phase::kAnswered:  // judged once the line falls quiet again
        dropped_bytes_ += len;
        answer_tail_->Feed(data, len);
        return;
    case Phase::kIdle:
        dropped_bytes_ += len;
        if (late_watch_ && now < owed_until_) {
            if (late_watch_->bytes == 0)
                late_watch_->first_at = now;
            late_watch_->bytes += len;
            late_watch_->last_at = now;
        }
        // Right after an answer whose record waits, a few bytes that cannot
        // begin a frame are the line's glitch; anything else is doubt.
        if (pending_ && pending_->tail.Feed(data, len))
            return;
        if (pending_)
            DropPending(LossNotes::FollowedLater());
        doubtful_ = true;
        return;
    }
}

void BenchHost::TakeExchangeBytes(unsigned char* data, std::size_t len, Clock::time_point at) {
    const bool first_bytes = !exchange_->FirstByteAt();
    const Exchange::Step step = exchange_->Feed(data, len, at);
    if (first_bytes && exchange_->FirstByteAt())
        JudgeNextAnswerStart(at);
    dropped_bytes_ += len - step.echoed - step.meter_len;
    if (step.loss) {
        Lose(step.loss->reason, step.loss->note);
        return;
    }
    if (step.meter_len == 0)
        return;
    const MeterTook took = GiveToMeter(data + step.meter_begin, step.meter_len);
    if (took == MeterTook::kDecoded && step.answered)
        Answered(data + step.tail_begin, len - step.tail_begin);
    else if (took != MeterTook::kMore || step.answered)
        Lose(LossReason::kTooLong, LossNotes::Overflow());
}

// The first byte of an answer settles the record before it: one that comes
// sooner than an answer can begin (the request's end and the 1.5 characters
// that end a frame) follows that record's answer, not this request.
void BenchHost::JudgeNextAnswerStart(Clock::time_point at) {
    if (!pending_)
        return;
    const Clock::time_point earliest = exchange_->RequestEnd() + exchange_line_.character * 5 / 2;
    if (at < earliest)
        DropPending(LossNotes::FollowedEarly());
    else
        CommitPending();
}

// Every chunk goes to the meter as it arrives, the way the framework
// delivers them, but never past the answer's last byte.
BenchHost::MeterTook BenchHost::GiveToMeter(unsigned char* data, std::size_t len) {
    const std::uint64_t decoded_before = sink_.DecodedCount();
    const int more = Current().device->process(data, static_cast<unsigned int>(len));
    sink_.ThrowIfFailed();
    if (more != 0)
        return MeterTook::kMore;
    return sink_.DecodedCount() != decoded_before ? MeterTook::kDecoded : MeterTook::kEnded;
}

// The meter holds the whole answer and has decoded it: its record waits
// while the line is watched for what follows.
void BenchHost::Answered(const unsigned char* tail, std::size_t len) {
    answer_end_ = last_activity_;
    answered_records_ = sink_.TakeHeld();
    answer_tail_.emplace();
    phase_ = Phase::kAnswered;
    answer_tail_->Feed(tail, len);
    WatchAnswered(exchange_number_);
}

// In doubt the line must stay silent for the answer timeout; otherwise
// the silent interval ends the frame and the record waits on (Pending).
void BenchHost::WatchAnswered(std::uint64_t exchange) {
    const Clock::duration quiet =
        InDoubt(Current().station)
            ? settle_time_
            : std::chrono::duration_cast<Clock::duration>(line_.Settings().SilentInterval());
    answer_timer_.expires_at(last_activity_ + quiet);
    answer_timer_.async_wait([this, exchange, quiet](const boost::system::error_code& error) {
        if (error || finished_ || phase_ != Phase::kAnswered || exchange != exchange_number_)
            return;
        if (Clock::now() < last_activity_ + quiet)
            WatchAnswered(exchange);
        else if (!answer_tail_->Harmless())
            Lose(LossReason::kTooLong, answer_tail_->Note());
        else
            AnswerStands();
    });
}

void BenchHost::AnswerStands() {
    const std::uint8_t station = Current().station;
    ExchangeEnd end = EndOf(Outcome::kCompleted, "", false);
    phase_ = Phase::kIdle;
    if (InDoubt(station)) {
        // Confirmed by the line's silence: the owed answer has come.
        sink_.Commit(std::move(answered_records_));
        sink_.ThrowIfFailed();
        owing_.erase(station);
        doubtful_ = false;
        Record(end);
    } else {
        pending_ = Pending{std::move(end), std::move(answered_records_), *answer_tail_};
        WatchPending();
    }
    ScheduleNext();
}

// A frame queued behind an answer begins within a few characters of its
// end; one answer's time of silence leaves none to come.
void BenchHost::WatchPending() {
    const Clock::duration quiet = std::min(settle_time_, Exchange::FollowWindow(exchange_line_));
    pending_timer_.expires_at(last_activity_ + quiet);
    pending_timer_.async_wait([this, quiet](const boost::system::error_code& error) {
        if (error || finished_ || !pending_)
            return;
        if (Clock::now() < last_activity_ + quiet) {
            WatchPending();
            return;
        }
        CommitPending();
    });
}

void BenchHost::CommitPending() {
    if (!pending_)
        return;
    Pending pending = std::move(*pending_);
    pending_.reset();
    pending_timer_.cancel();
    sink_.Commit(std::move(pending.records));
    sink_.ThrowIfFailed();
    Record(pending.end);
    FinishIfDone();
}

// The last round is over once its last record is settled, either way.
void BenchHost::FinishIfDone() {
    if (rounds_done_ && phase_ == Phase::kIdle && !pending_ && !finished_)
        Finish(Ending::kDone);
}

void BenchHost::DropPending(const std::string& note) {
    if (!pending_)
        return;
    Pending pending = std::move(*pending_);
    pending_.reset();
    pending_timer_.cancel();
    ExchangeEnd& end = pending.end;
    end.outcome = Outcome::kLost;
    end.loss_reason = LossReason::kTooLong;
    end.reason = note;
    end.decoded_but_dropped = true;
    owing_.insert(meters_.At(end.meter).station);
    doubtful_ = true;
    Record(end);
    Hint(hints_.AfterLoss(end.loss_reason, false, false));
    FinishIfDone();
}

void BenchHost::OnAnswerTimeout(std::uint64_t exchange) {
    if (finished_ || phase_ != Phase::kAwaitingAnswer || exchange != exchange_number_)
        return;
    if (!exchange_->FirstByteAt())
        CommitPending();  // the line stayed silent after that answer
    const Exchange::Loss loss = exchange_->TimedOut(options_.timeout_ms);
    // The meter may still answer: what comes before the late limit tells
    // whether the timeout was too short.
    if (loss.reason == LossReason::kNoAnswer)
        late_watch_ = LateWatch{current_, exchange_->RequestEnd(), 0, {}, {}};
    Lose(loss.reason, loss.note);
}

// Bytes that came after a request's timeout but before its late limit were
// most likely its answer: the loss is counted as late, and said so.
void BenchHost::SettleLateWatch() {
    if (!late_watch_)
        return;
    const LateWatch watch = *late_watch_;
    late_watch_.reset();
    if (watch.bytes == 0)
        return;
    const auto after = [&watch](Clock::time_point at) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(at - watch.request_end);
    };
    statistics_.LossRenamed(KeyOf(meters_.At(watch.meter)), LossReason::kNoAnswer, LossReason::kLate);
    if (options_.verbose)
        out_ << "  " << LossNotes::Late(meters_.At(watch.meter).station, options_.timeout_ms,
                                        watch.bytes, after(watch.first_at))
             << '\n';
    Hint(hints_.AfterLate(after(watch.last_at)));
}

void BenchHost::Lose(LossReason reason, const std::string& note) {
    const bool decoded_but_dropped = phase_ == Phase::kAnswered;
    const std::uint8_t station = Current().station;
    ExchangeEnd end = EndOf(Outcome::kLost, note, decoded_but_dropped);
    end.loss_reason = reason;
    last_activity_ = Clock::now();
    phase_ = Phase::kIdle;
    answer_timer_.cancel();
    sink_.TakeHeld();  // dropped: neither published nor stored
    answered_records_ = {};
    doubtful_ = true;
    owing_.insert(station);
    if (reason == LossReason::kNoAnswer)
        owed_until_ = std::max(owed_until_, exchange_->RequestEnd() + late_limit_);
    CommitPending();  // nothing it followed has spoken against it
    Record(end);
    Hint(hints_.AfterLoss(reason, exchange_->AnswerStartsWithRequest(),
                          reason == LossReason::kBadChecksum &&
                              note.find("sits at") != std::string::npos));
    ScheduleNext();
}

// A stop in the middle of an exchange: nothing of it is stored.
void BenchHost::EndExchange(Outcome outcome, const std::string& note) {
    ExchangeEnd end = EndOf(outcome, note, false);
    phase_ = Phase::kIdle;
    answer_timer_.cancel();
    sink_.TakeHeld();
    answered_records_ = {};
    last_activity_ = Clock::now();
    Record(end);
    ScheduleNext();
}

BenchHost::ExchangeEnd BenchHost::EndOf(Outcome outcome, const std::string& note,
                                        bool decoded_but_dropped) {
    return ExchangeEnd{current_,
                       round_,
                       outcome,
                       note,
                       decoded_but_dropped,
                       LossReason::kNoAnswer,
                       exchange_->RequestEnd(),
                       answer_end_,
                       TakeDetails()};
}

// The counters, the statistics, the table's row for the meter, the details.
void BenchHost::Record(const ExchangeEnd& end) {
    CountForStatistics(end);
    switch (end.outcome) {
    case Outcome::kCompleted:
        ++completed_;
        hints_.AfterCompleted();
        break;
    case Outcome::kLost:
        ++lost_;
        break;
    case Outcome::kStopped:
        cut_round_ = end.round;
        break;
    }
    ShowDetails(end.details);
    const MeterLineup::Meter& meter = meters_.At(end.meter);
    if (end.decoded_but_dropped)
        table_.WriteRowWithoutValues(std::to_string(end.round), meter.station, completed_, lost_,
                                     end.reason);
    else
        table_.WriteRow(std::to_string(end.round), meter.station, *meter.device, completed_,
                        lost_, end.reason);
}

void BenchHost::CountForStatistics(const ExchangeEnd& end) {
    const MeterKey key = KeyOf(meters_.At(end.meter));
    switch (end.outcome) {
    case Outcome::kCompleted:
        statistics_.RoundCompleted(key, end.request_end, end.answer_end);
        break;
    case Outcome::kLost:
        statistics_.RoundLost(key, end.loss_reason);
        break;
    case Outcome::kStopped:
        statistics_.ExchangeStopped(key);
        break;
    }
}

void BenchHost::Hint(const std::optional<std::string>& hint) {
    if (hint)
        out_ << *hint << std::endl;
}

// The next meter of the round right away (once the line is quiet), the
// next round an interval after this one began.
void BenchHost::ScheduleNext(Clock::time_point not_before) {
    if (finished_ || phase_ != Phase::kIdle)
        return;
    const bool round_over = ++current_ == meters_.Size();
    if (round_over)
        current_ = 0;
    if (stop_requested_) {
        Finish(Ending::kStopped);
    } else if (round_over && options_.rounds != 0 && round_ >= options_.rounds) {
        rounds_done_ = true;
        if (!pending_)
            Finish(Ending::kDone);
    } else {
        ScheduleExchange(std::max(round_over ? round_started_ + interval_ : Clock::now(), not_before));
    }
}

void BenchHost::OnStopSignal() {
    stop_requested_ = true;
    switch (phase_) {
    case Phase::kIdle:
        Finish(Ending::kStopped);
        return;
    case Phase::kAnswered:
        if (!InDoubt(Current().station)) {
            AnswerStands();
            return;
        }
        EndExchange(Outcome::kStopped, LossNotes::NotConfirmed());
        return;
    case Phase::kAwaitingAnswer:
        EndExchange(Outcome::kStopped, LossNotes::Stopped());
        return;
    }
}

void BenchHost::Finish(Ending ending) {
    if (finished_)
        return;
    finished_ = true;
    std::exception_ptr failure;
    if (ending != Ending::kFailed) {
        try {
            CommitPending();  // nothing came to speak against it
        } catch (const StopRequested&) {
            pending_.reset();  // its write given up for a stop: counted as not stored
        } catch (...) {
            pending_.reset();
            failure = std::current_exception();
            ending = Ending::kFailed;
        }
    }
    if (phase_ != Phase::kIdle) {  // a failure or a given-up wait in the middle of an exchange
        cut_round_ = round_;
        statistics_.ExchangeStopped(KeyOf(Current()));
        sink_.TakeHeld();
        phase_ = Phase::kIdle;
    }
    pending_.reset();
    // What was handed over is stored; after a stop a lock is not waited for.
    writer_.Finish(ending == Ending::kStopped ? HistoryWriter::Locks::kGiveUp
                                              : HistoryWriter::Locks::kWaitOut);
    if (ending != Ending::kFailed && writer_.Failure()) {
        failure = writer_.Failure();
        ending = Ending::kFailed;
    }
    round_timer_.cancel();
    answer_timer_.cancel();
    pending_timer_.cancel();
    boost::system::error_code ignored;
    stop_signals_.cancel(ignored);
    reopen_timer_.cancel();
    if (gone_since_)
        outage_total_ += Clock::now() - *gone_since_;
    line_.Close();
    SettleLateWatch();
    statistics_.Finish(Clock::now());
    const bool output_open = static_cast<bool>(out_);
    WriteSummary(ending, Report());
    if (output_open && !out_)  // it went just now
        WriteSummary(ending, std::cerr);
    WriteStatistics(ending, Report());
    if (failure)
        std::rethrow_exception(failure);
}

// Standard output, or standard error once standard output is gone: the
// summary of a run whose output was closed still reaches the user.
std::ostream& BenchHost::Report() {
    return out_ ? out_ : std::cerr;
}

// A run that failed already has its error to report: a statistics file
// that cannot be written then is only noted, not thrown over it.
void BenchHost::WriteStatistics(Ending ending, std::ostream& text) {
    StatisticsReport report = statistics_.Report();
    report.checksum_checked = options_.check_checksum;
    report.outages = outages_;
    report.latency_timer_ms = line_.Identity().LatencyTimerMs();
    report.outage_seconds = std::chrono::duration<double>(outage_total_).count();
    WriteStatisticsText(text, report);
    if (outages_ != 0)
        text << "line gone " << outages_ << (outages_ == 1 ? " time, " : " times, ") << std::fixed
             << std::setprecision(1) << report.outage_seconds << std::defaultfloat << " s in all\n";
    text.flush();
    if (options_.stats_json_path.empty())
        return;
    try {
        WriteStatisticsJsonFile(options_.stats_json_path, report);
    } catch (const BenchError& failure) {
        if (ending != Ending::kFailed)
            throw;
        std::cerr << "bench_host: " << failure.what() << std::endl;
    }
}

void BenchHost::WriteSummary(Ending ending, std::ostream& out) {
    const char* word = ending == Ending::kFailed    ? "failed"
                       : ending == Ending::kStopped ? "stopped"
                                                    : "done";
    // One meter: every exchange is a round. Several: the rounds begun.
    const std::uint64_t rounds = meters_.Size() == 1 ? completed_ + lost_ : round_;
    out << word << ": " << rounds << (rounds == 1 ? " round" : " rounds");
    if (meters_.Size() > 1)
        out << " of " << meters_.Size() << " meters";
    out << ", " << completed_ << " completed, " << lost_ << " lost";
    if (cut_round_ != 0)
        out << ", round " << cut_round_ << " cut short";
    out << "; " << sink_.PublishedCount() << " records published, " << sink_.HistoryCount()
        << " stored in " << history_.Path();
    if (sink_.NotStoredCount() != 0)
        out << ", " << sink_.NotStoredCount() << " not stored";
    if (dropped_bytes_ != 0)
        out << "; " << dropped_bytes_ << " bytes outside an exchange dropped";
    if (!options_.check_checksum)
        out << "; checksums not checked";
    out << std::endl;
}

// With --verbose: the exchange's request and answer frames, the records
// published and the plug-in's own lines. Without, the plug-in's lines are
// dropped so they do not pile up.
std::vector<std::string> BenchHost::TakeDetails() {
    const std::vector<std::string> plugin_lines = trace_.TakeLines();
    const std::vector<std::string> notes = sink_.TakeNotes();
    std::vector<std::string> details;
    if (!options_.verbose)
        return details;
    if (exchange_) {
        const std::vector<unsigned char>& request = exchange_->Request();
        const std::vector<unsigned char>& answer = exchange_->Answer();
        details.push_back("-> " + HexText(request.data(), request.size()));
        if (!answer.empty())
            details.push_back("<- " + std::to_string(answer.size()) + " bytes in " +
                              std::to_string(exchange_->Chunks()) +
                              " chunks: " + HexText(answer.data(), answer.size()));
    }
    details.insert(details.end(), notes.begin(), notes.end());
    for (const std::string& line : plugin_lines)
        details.push_back("plug-in: " + line);
    return details;
}

void BenchHost::ShowDetails(const std::vector<std::string>& details) {
    for (const std::string& line : details)
        out_ << "  " << line << '\n';
}
