#include "BenchHost.h"

#include "BenchError.h"
#include "BenchOptions.h"
#include "HexText.h"
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

#include <algorithm>
#include <iostream>
#include <optional>

#include <unistd.h>

namespace {

MeterKey KeyOf(const MeterLineup::Meter& meter) {
    return MeterKey{meter.station, meter.data_id};
}

constexpr std::size_t kAnswerLength = QVT7702::kAnswerLength;

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
      sink_(line, history, options.verbose),
      table_(out),
      statistics_(WireBudget(line.Settings(), kReadRequestLength, QVT7702::kAnswerLength)),
      round_timer_(io),
      answer_timer_(io),
      stop_signals_(io, ::dup(StopSignals::Descriptor())),
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
                        const std::vector<HistoryRow>& skipped) {
    constexpr std::size_t kShown = 3;
    for (std::size_t i = 0; i < skipped.size() && i < kShown; ++i) {
        const HistoryRow& row = skipped[i];
        const std::optional<MeterRecord> record = MeterRecord::FromBytes(row.record);
        out << "cache: skipped record #" << row.row_id << " stored " << row.stored_at << ": ";
        if (record)
            out << "its own data id is " << record->DataId() << ", not " << data_id;
        else
            out << row.record.size() << " bytes, not a " << MeterRecord::kSize << "-byte record";
        out << '\n';
    }
    if (skipped.size() > kShown)
        out << "cache: skipped " << skipped.size() - kShown << " more records not of data id "
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
    std::vector<HistoryRow> skipped;
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

void BenchHost::ScheduleExchange(Clock::time_point at) {
    round_timer_.expires_at(at);
    round_timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error && !finished_)
            BeginExchange();
    });
}

// The silent interval separates two frames; it is not enough when the meter
// may still owe an answer: a busy meter starts its next queued answer a few
// characters after the last one ends (4 characters for the simulated meter,
// longer than the 3.5 of the silent interval), so a request sent after the
// silent interval would have that answer taken as its own. A meter that has
// been answering starts what it still has queued within the answer timeout,
// so that much silence is enough; a request that drew nothing at all keeps
// the line quiet up to the late limit instead (owed_until_). The doubt is
// the line's, not a meter's: a late answer from one station would land in
// the next station's exchange just the same.
BenchHost::Clock::duration BenchHost::QuietBeforeRequest() const {
    if (doubtful_)
        return settle_time_;
    return std::chrono::duration_cast<Clock::duration>(line_.Settings().SilentInterval());
}

void BenchHost::BeginExchange() {
    const Clock::time_point quiet_from =
        std::max(last_activity_ + QuietBeforeRequest(), owed_until_);
    if (Clock::now() < quiet_from) {
        ScheduleExchange(quiet_from);
        return;
    }

    if (current_ == 0) {
        ++round_;
        round_started_ = Clock::now();
    }
    phase_ = Phase::kAwaitingAnswer;
    const std::uint64_t exchange = ++exchange_;
    echo_.clear();
    answer_.clear();
    answer_chunks_ = 0;
    followed_bytes_ = 0;
    if (doubtful_)
        sink_.HoldRecords();

    request_sent_ = Clock::now();
    Current().device->RefreshStatus();
    sink_.ThrowIfFailed();
    request_ = sink_.LastRequestBytes();
    // The write hands the whole request over at once; its last byte is on
    // the line one request's time later.
    request_end_ = request_sent_ + std::chrono::duration_cast<Clock::duration>(
                                       line_.Settings().CharacterTime() *
                                       static_cast<double>(request_.size()));
    statistics_.RequestSent(KeyOf(Current()), request_end_);

    answer_timer_.expires_after(answer_timeout_);
    answer_timer_.async_wait([this, exchange](const boost::system::error_code& error) {
        if (!error)
            OnAnswerTimeout(exchange);
    });
}

void BenchHost::Receive() {
    line_.ReadSome([this](const boost::system::error_code& error, unsigned char* data,
                          std::size_t len) {
        if (finished_ || error == boost::asio::error::operation_aborted)
            return;
        if (error && SerialLine::Gone(error))
            throw BenchError(ExitCode::kPort, line_.GoneMessage());
        if (error)
            throw BenchError(ExitCode::kPort,
                             "serial port " + line_.Path() + " failed: " + error.message());
        OnReceived(data, len);
        if (!finished_)
            Receive();
    });
}

void BenchHost::OnReceived(unsigned char* data, std::size_t len) {
    last_activity_ = Clock::now();
    switch (phase_) {
    case Phase::kAwaitingAnswer:
        TakeExchangeBytes(data, len);
        return;
    case Phase::kConfirming:
        followed_bytes_ += len;
        dropped_bytes_ += len;
        return;
    case Phase::kIdle:
        dropped_bytes_ += len;
        doubtful_ = true;
        return;
    }
}

// The echo first, when the adapter sends one; then the answer, handed over
// only when it starts with the meter's own station address. The driver
// takes any 58 bytes as its answer, so whatever reaches it is its reading.
void BenchHost::TakeExchangeBytes(unsigned char* data, std::size_t len) {
    const std::size_t echoed = TakeEcho(data, len);
    if (phase_ != Phase::kAwaitingAnswer) {  // the echo did not match
        dropped_bytes_ += len - echoed;
        return;
    }
    data += echoed;
    len -= echoed;
    if (len == 0)
        return;
    const std::uint8_t station = Current().station;
    if (answer_.empty() && data[0] != station) {
        dropped_bytes_ += len;
        Lose(ReasonForStranger(data[0]), "lost: the answer starts with " + HexText(data, 1) +
                                        ", not station " + std::to_string(station) +
                                        "'s address; not handed to the meter");
        return;
    }
    GiveToMeter(data, len);
}

// Takes the echo's bytes from the front of a chunk; returns how many. An
// echo that differs from the request ends the exchange as lost: the line or
// the adapter is garbling what is sent.
std::size_t BenchHost::TakeEcho(const unsigned char* data, std::size_t len) {
    if (!options_.echo || echo_.size() >= request_.size())
        return 0;
    const std::size_t taken = std::min(len, request_.size() - echo_.size());
    echo_.insert(echo_.end(), data, data + taken);
    if (!std::equal(echo_.begin(), echo_.end(), request_.begin()))
        Lose(LossReason::kEchoMismatch, "lost: the echo " + HexText(echo_.data(), echo_.size()) +
                                        " does not match the request sent");
    return taken;
}

// Every chunk goes to the meter as it arrives, the way the framework
// delivers them; the meter says when the exchange is over.
void BenchHost::GiveToMeter(unsigned char* data, std::size_t len) {
    const std::size_t before = answer_.size();
    answer_.insert(answer_.end(), data, data + len);
    ++answer_chunks_;
    if (before < kAnswerLength && answer_.size() >= kAnswerLength && !AnswerChecksumMatches()) {
        Lose(LossReason::kBadChecksum, "lost: the answer's checksum does not match its bytes; "
                                       "not handed to the meter");
        return;
    }

    const std::uint64_t decoded_before = sink_.DecodedCount();
    const int more = Current().device->process(data, static_cast<unsigned int>(len));
    sink_.ThrowIfFailed();
    if (more != 0)
        return;
    answer_end_ = last_activity_;
    if (sink_.DecodedCount() == decoded_before) {
        Lose(LossReason::kTooLong, "lost: receive buffer overflow");
    } else if (sink_.Holding()) {
        phase_ = Phase::kConfirming;
        ConfirmWhenQuiet(exchange_);
    } else {
        EndExchange(Outcome::kCompleted, "");
    }
}

// The driver does not check the checksum of what it decodes: a bit that
// noise flipped on the line would be stored as a reading.
bool BenchHost::AnswerChecksumMatches() const {
    return ModbusChecksumMatches(answer_.data(), kAnswerLength);
}

void BenchHost::OnAnswerTimeout(std::uint64_t exchange) {
    if (finished_ || phase_ != Phase::kAwaitingAnswer || exchange != exchange_)
        return;
    Lose(TimeoutReason(), LostNote());
}

// Bytes, but fewer than an answer, is a short one; nothing past the echo
// is no answer.
LossReason BenchHost::TimeoutReason() const {
    return answer_.empty() ? LossReason::kNoAnswer : LossReason::kShort;
}

std::string BenchHost::LostNote() const {
    const std::string within = " within " + std::to_string(options_.timeout_ms) + " ms";
    if (options_.echo && echo_.size() < request_.size())
        return "lost: " + std::to_string(echo_.size()) + " of " + std::to_string(request_.size()) +
               " echo bytes, no answer" + within;
    if (answer_.empty())
        return "lost: no answer" + within;
    return "lost: " + std::to_string(answer_.size()) + " bytes, no complete answer" + within;
}

// Waits until the line has been silent for the answer timeout since the
// decoded answer or anything after it.
void BenchHost::ConfirmWhenQuiet(std::uint64_t exchange) {
    answer_timer_.expires_at(last_activity_ + settle_time_);
    answer_timer_.async_wait([this, exchange](const boost::system::error_code& error) {
        if (error || finished_ || phase_ != Phase::kConfirming || exchange != exchange_)
            return;
        if (Clock::now() < last_activity_ + settle_time_)
            ConfirmWhenQuiet(exchange);
        else
            Confirm();
    });
}

// One answer, then silence: it was this request's. More bytes right after
// it: the meter was still answering an earlier request, and the decoded
// answer may well be that one's.
void BenchHost::Confirm() {
    if (followed_bytes_ != 0) {
        Lose(LossReason::kTooLong, "lost: " + std::to_string(followed_bytes_) +
                                        " more bytes followed the answer, so it may be an "
                                        "earlier request's; not stored");
        return;
    }
    sink_.CommitHeld();
    sink_.ThrowIfFailed();
    EndExchange(Outcome::kCompleted, "");
}

void BenchHost::Lose(LossReason reason, const std::string& note) {
    loss_reason_ = reason;
    EndExchange(Outcome::kLost, note);
}

// An exchange's bytes that start with an address a station may have
// (1..247) are another station's answer; any other first byte (broadcast,
// reserved) starts no answer at all.
LossReason BenchHost::ReasonForStranger(std::uint8_t first_byte) {
    constexpr std::uint8_t kHighestStation = 247;
    return first_byte >= 1 && first_byte <= kHighestStation ? LossReason::kWrongStation
                                                            : LossReason::kNoise;
}

// Every exchange ends here, whatever ended it.
void BenchHost::EndExchange(Outcome outcome, const std::string& note) {
    const bool decoded_but_dropped = phase_ == Phase::kConfirming && outcome != Outcome::kCompleted;
    phase_ = Phase::kIdle;
    answer_timer_.cancel();
    if (sink_.Holding())
        sink_.DiscardHeld();
    last_activity_ = Clock::now();
    doubtful_ = outcome == Outcome::kCompleted ? false : outcome == Outcome::kLost || doubtful_;
    if (outcome == Outcome::kLost && loss_reason_ == LossReason::kNoAnswer)
        owed_until_ = request_end_ + late_limit_;

    Record(ExchangeEnd{Current(), outcome, note, last_activity_ - request_sent_,
                       decoded_but_dropped, loss_reason_, answer_end_});
    ScheduleNext();
}

// The counters, the statistics, the table's row for the meter, the details.
void BenchHost::Record(const ExchangeEnd& end) {
    CountForStatistics(end);
    switch (end.outcome) {
    case Outcome::kCompleted:
        ++completed_;
        break;
    case Outcome::kLost:
        ++lost_;
        break;
    case Outcome::kStopped:
        cut_round_ = round_;
        break;
    }
    ShowDetails();
    if (end.decoded_but_dropped)
        table_.WriteRowWithoutValues(std::to_string(round_), end.meter.station, completed_, lost_,
                                     end.reason);
    else
        table_.WriteRow(std::to_string(round_), end.meter.station, *end.meter.device, completed_,
                        lost_, end.reason);
}

void BenchHost::CountForStatistics(const ExchangeEnd& end) {
    const MeterKey key = KeyOf(end.meter);
    switch (end.outcome) {
    case Outcome::kCompleted:
        statistics_.RoundCompleted(key, end.answer_end);
        break;
    case Outcome::kLost:
        statistics_.RoundLost(key, end.loss_reason);
        break;
    case Outcome::kStopped:
        statistics_.ExchangeStopped(key);
        break;
    }
}

// The next meter of the round right away (once the line is quiet), the
// next round an interval after this one began.
void BenchHost::ScheduleNext() {
    const bool round_over = ++current_ == meters_.Size();
    if (round_over)
        current_ = 0;
    if (stop_requested_)
        Finish(Ending::kStopped);
    else if (round_over && options_.rounds != 0 && round_ >= options_.rounds)
        Finish(Ending::kDone);
    else
        ScheduleExchange(round_over ? round_started_ + interval_ : Clock::now());
}

void BenchHost::OnStopSignal() {
    stop_requested_ = true;
    if (phase_ == Phase::kIdle)
        Finish(Ending::kStopped);
    else
        EndExchange(Outcome::kStopped, "stopped: exchange cut short, nothing stored");
}

void BenchHost::Finish(Ending ending) {
    if (finished_)
        return;
    finished_ = true;
    if (phase_ != Phase::kIdle) {  // a failure or a given-up wait in the middle of an exchange
        cut_round_ = round_;
        statistics_.ExchangeStopped(KeyOf(Current()));
        sink_.DiscardHeld();
        phase_ = Phase::kIdle;
    }
    round_timer_.cancel();
    answer_timer_.cancel();
    boost::system::error_code ignored;
    stop_signals_.cancel(ignored);
    line_.Close();
    statistics_.Finish(Clock::now());
    const bool output_open = static_cast<bool>(out_);
    WriteSummary(ending, Report());
    if (output_open && !out_)  // it went just now
        WriteSummary(ending, std::cerr);
    WriteStatistics(ending, Report());
}

// Standard output, or standard error once standard output is gone: the
// summary of a run whose output was closed still reaches the user.
std::ostream& BenchHost::Report() {
    return out_ ? out_ : std::cerr;
}

// A run that failed already has its error to report: a statistics file
// that cannot be written then is only noted, not thrown over it.
void BenchHost::WriteStatistics(Ending ending, std::ostream& text) {
    const StatisticsReport report = statistics_.Report();
    WriteStatisticsText(text, report);
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
    out << std::endl;
}

// With --verbose: the exchange's request and answer frames, the records
// published and the plug-in's own lines. Without, the plug-in's lines are
// dropped so they do not pile up.
void BenchHost::ShowDetails() {
    const std::vector<std::string> plugin_lines = trace_.TakeLines();
    const std::vector<std::string> notes = sink_.TakeNotes();
    if (!options_.verbose)
        return;
    if (round_ != 0 && !sink_.LastRequest().empty())
        out_ << "  -> " << sink_.LastRequest() << '\n';
    if (!answer_.empty())
        out_ << "  <- " << answer_.size() << " bytes in " << answer_chunks_
             << " chunks: " << HexText(answer_.data(), answer_.size()) << '\n';
    for (const std::string& note : notes)
        out_ << "  " << note << '\n';
    for (const std::string& line : plugin_lines)
        out_ << "  plug-in: " << line << '\n';
}
