#include "LineScan.h"

#include "BenchError.h"
#include "LineChoices.h"
#include "ModbusCrc.h"
#include "ModbusFrame.h"
#include "QVT7702.h"
#include "ScanProbe.h"
#include "SerialLine.h"
#include "StopSignals.h"

#include <pthread.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

// After the framing changes, an adapter may glitch: the line is given
// this many silent intervals before the first request, and what came is dropped.
constexpr int kSettleIntervals = 4;

LineScan::Clock::duration Ticks(std::chrono::duration<double, std::micro> time) {
    return std::chrono::duration_cast<LineScan::Clock::duration>(time);
}

std::string Duration(LineScan::Clock::duration time) {
    const double seconds = std::chrono::duration<double>(time).count();
    char text[32];
    if (seconds < 90)
        std::snprintf(text, sizeof text, "%.0f s", std::max(seconds, 0.0));
    else if (seconds < 5400)
        std::snprintf(text, sizeof text, "%.0f min", seconds / 60);
    else
        std::snprintf(text, sizeof text, "%.1f h", seconds / 3600);
    return text;
}

}  // namespace

LineScan::LineScan(boost::asio::io_context& io, SerialLine& line, ScanProbe& probe, Plan plan,
                   std::ostream& out, std::ostream& progress, bool progress_on_terminal)
    : io_(io),
      line_(line),
      probe_(probe),
      plan_(std::move(plan)),
      out_(out),
      progress_(progress),
      progress_on_terminal_(progress_on_terminal),
      stop_signals_(io) {
    for (const int signal_number : StopSignals::kSignals)
        stop_signals_.add(signal_number);
}

LineScan::Clock::duration LineScan::StationWait(const LineSettings& line,
                                                std::chrono::microseconds network) {
    const Exchange::Line exchange{Ticks(line.CharacterTime()),
                                  static_cast<std::size_t>(QVT7702::kAnswerLength)};
    return Exchange::AnswerFloor(exchange) + kTurnaroundAllowance + network;
}

LineScan::Clock::duration LineScan::StationTime(const LineSettings& line, Clock::duration wait) {
    return Ticks(line.CharacterTime()) * static_cast<long>(kReadRequestLength) + wait +
           Ticks(line.SilentInterval());
}

LineScan::Clock::duration LineScan::WaitFor(const LineSettings& line) const {
    if (plan_.wait)
        return *plan_.wait;
    return StationWait(line, line_.NetworkRoundTrip());
}

LineScan::Clock::duration LineScan::PlannedFrom(std::size_t framing, std::size_t station) const {
    Clock::duration planned{};
    for (std::size_t f = framing; f < plan_.framings.size(); ++f) {
        const std::size_t stations = plan_.stations.size() - (f == framing ? station : 0);
        planned += StationTime(plan_.framings[f], WaitFor(plan_.framings[f])) *
                   static_cast<long>(stations);
    }
    return planned;
}

LineScan::Result LineScan::Run() {
    stop_signals_.async_wait([this](const boost::system::error_code& error, int) {
        if (!error)
            stop_ = true;
    });
    const sigset_t signals = StopSignals::Set();
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);

    Result result;
    started_ = Clock::now();
    Read();
    for (std::size_t f = 0; f < plan_.framings.size() && !stop_; ++f) {
        const LineSettings& framing = plan_.framings[f];
        line_.Apply(framing);
        const Clock::duration wait = WaitFor(framing);
        ShowProgress(f, 0, result.found.size());
        WaitForQuiet(framing, Ticks(framing.SilentInterval()) * kSettleIntervals);
        chunks_.clear();
        for (std::size_t s = 0; s < plan_.stations.size() && !stop_; ++s) {
            std::optional<ScanFinding> finding = TryStation(framing, plan_.stations[s], wait);
            if (stop_)
                break;
            ++result.tried;
            planned_done_ += StationTime(framing, wait);
            if (finding) {
                if (progress_on_terminal_)
                    progress_ << "\r\033[K" << std::flush;
                out_ << finding->Text() << std::endl;
                result.found.push_back(std::move(*finding));
            }
            if (progress_on_terminal_)
                ShowProgress(f, s + 1, result.found.size());
        }
    }
    result.stopped = stop_;
    result.took = Clock::now() - started_;
    if (progress_on_terminal_)
        progress_ << "\r\033[K" << std::flush;
    boost::system::error_code ignored;
    stop_signals_.cancel(ignored);
    line_.Close();
    io_.restart();
    io_.poll();  // the cancelled read's and the signals' handlers
    return result;
}

void LineScan::Read() {
    line_.ReadSome([this](const boost::system::error_code& error, unsigned char* data,
                          std::size_t len) {
        if (error) {
            if (error != boost::asio::error::operation_aborted)
                failure_ = error;
            return;
        }
        last_byte_ = Clock::now();
        chunks_.push_back(Chunk{{data, data + len}, last_byte_});
        Read();
    });
}

template <class Enough>
void LineScan::Pump(Clock::time_point until, Enough enough) {
    while (!stop_ && !failure_ && !enough() && Clock::now() < until) {
        if (io_.stopped())
            io_.restart();
        io_.run_one_until(until);
    }
    ThrowIfFailed();
}

void LineScan::ThrowIfFailed() {
    if (!failure_)
        return;
    if (SerialLine::Gone(*failure_))
        throw BenchError(ExitCode::kPort, line_.GoneMessage());
    throw BenchError(ExitCode::kPort, line_.Name() + " failed: " + failure_->message());
}

// A request goes out only once the line has been quiet for the silent
// interval; a line that never falls quiet is given `longest`.
void LineScan::WaitForQuiet(const LineSettings& line, Clock::duration longest) {
    const Clock::duration quiet = Ticks(line.SilentInterval());
    const Clock::time_point give_up = Clock::now() + longest;
    for (;;) {
        const Clock::time_point quiet_at = std::max(last_byte_ + quiet, line_.EarliestWrite());
        const Clock::time_point now = Clock::now();
        if (now >= quiet_at || now >= give_up || stop_)
            return;
        const std::size_t seen = chunks_.size();
        Pump(std::min(quiet_at, give_up), [&] { return chunks_.size() != seen; });
    }
}

std::optional<ScanFinding> LineScan::TryStation(const LineSettings& line, std::uint8_t station,
                                                Clock::duration wait) {
    WaitForQuiet(line, wait);
    chunks_.clear();
    const std::vector<unsigned char> request = probe_.RequestFor(station);
    const Clock::time_point sent = Clock::now();
    line_.Write(request.data(), request.size());
    const Exchange::Line judged{Ticks(line.CharacterTime()),
                                static_cast<std::size_t>(QVT7702::kAnswerLength), plan_.echo,
                                plan_.check_checksum};
    const Clock::time_point request_end =
        sent + judged.character * static_cast<long>(request.size());
    Exchange exchange(judged, station, request, request_end);

    std::optional<Exchange::Loss> loss;
    bool answered = false;
    std::vector<unsigned char> bytes;  // past the echo
    Clock::time_point last_at = request_end;
    std::size_t taken = 0;
    const Clock::time_point until = request_end + wait;
    while (!answered && !stop_ && Clock::now() < until) {
        Pump(until, [&] { return chunks_.size() != taken; });
        for (; taken < chunks_.size(); ++taken) {
            const Chunk& chunk = chunks_[taken];
            last_at = chunk.at;
            if (loss || answered) {
                bytes.insert(bytes.end(), chunk.bytes.begin(), chunk.bytes.end());
                continue;
            }
            const Exchange::Step step = exchange.Feed(chunk.bytes.data(), chunk.bytes.size(), chunk.at);
            bytes.insert(bytes.end(), chunk.bytes.begin() + static_cast<long>(step.echoed),
                         chunk.bytes.end());
            if (step.loss)
                loss = step.loss;
            else if (step.answered)
                answered = true;
        }
    }
    if (stop_ || bytes.empty())
        return std::nullopt;

    ScanFinding finding;
    finding.station = station;
    finding.line = line;
    finding.bytes = bytes;
    finding.response = std::chrono::duration_cast<std::chrono::microseconds>(last_at - request_end);
    if (answered) {
        finding.kind = ScanFinding::Kind::kMeterBlock;
        finding.bytes = exchange.Answer();
        finding.values = probe_.Decode(exchange.Answer());
        return finding;
    }
    const Exchange::Loss judged_loss = loss ? *loss : exchange.TimedOut(0);
    switch (judged_loss.reason) {
    case LossReason::kException:
        finding.kind = ScanFinding::Kind::kException;
        break;
    case LossReason::kStandardForm:
        finding.kind = ScanFinding::Kind::kStandard;
        break;
    default: {
        finding.kind = ScanFinding::Kind::kGarbage;
        // The loss's own words, without the bench host's "lost: ".
        std::string why = judged_loss.note;
        if (why.rfind("lost: ", 0) == 0)
            why = why.substr(6);
        finding.why = why;
        break;
    }
    }
    return finding;
}

// On a terminal a running line; elsewhere one line as each framing begins.
void LineScan::ShowProgress(std::size_t framing, std::size_t station, std::size_t found) {
    const Clock::duration elapsed = Clock::now() - started_;
    Clock::duration left = PlannedFrom(framing, station);
    // Planned times are corrected by how the scan has kept to them so far.
    if (planned_done_.count() > 0)
        left = std::chrono::duration_cast<Clock::duration>(
            left * (std::chrono::duration<double>(elapsed).count() /
                    std::chrono::duration<double>(planned_done_).count()));
    const LineSettings& line = plan_.framings[framing];
    if (progress_on_terminal_) {
        progress_ << "\r\033[Kscan " << LineChoices::FramingText(line) << " (" << framing + 1
                  << " of " << plan_.framings.size() << "): station " << station << " of "
                  << plan_.stations.size() << ", " << found << " found, about " << Duration(left)
                  << " left" << std::flush;
        return;
    }
    const Clock::duration wait = WaitFor(line);
    out_ << "scan: " << LineChoices::FramingText(line) << " (" << framing + 1 << " of "
         << plan_.framings.size() << "), stations " << LineChoices::StationsText(plan_.stations)
         << ", waiting " << std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()
         << " ms for each; about " << Duration(left) << " left" << std::endl;
}
