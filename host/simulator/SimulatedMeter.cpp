#include "SimulatedMeter.h"

#include "ModbusCrc.h"
#include "ModbusFrame.h"
#include "SimulatedReadings.h"
#include "StationAddress.h"
#include "TerminalFraming.h"

#include <boost/asio/buffer.hpp>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <system_error>

namespace {

[[noreturn]] void ThrowSystemError(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// A meter answers only after the line has been quiet for the silent
// interval that ends the request frame (3.5 characters, rounded up to 4),
// counted from the request's last byte.
constexpr int kTurnaroundCharacters = 4;

}  // namespace

const std::vector<unsigned char> SimulatedMeter::kNoise = {0xFF, 0x13, 0x80, 0x00, 0xA5};
const std::vector<unsigned char> SimulatedMeter::kStray = {0x00, 0xFF};

SimulatedMeter::SimulatedMeter(SimulatedMeterOptions options)
    : options_(std::move(options)),
      character_time_(std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          options_.line.CharacterTime())),
      master_(io_),
      transit_timer_(io_),
      babble_timer_(io_) {
    options_.faults.SetDefaultStation(options_.stations.front());
    OpenPseudoTerminal();
}

SimulatedMeter::~SimulatedMeter() {
    Stop();
    if (slave_fd_ >= 0)
        ::close(slave_fd_);
}

// The meter keeps a descriptor of the terminal side open itself, so the
// line stays up while no host has it open, and sets it raw: 8 data bits,
// no echo, no line editing. Neither descriptor passes to programs started
// meanwhile, so the line goes down when the meter does.
void SimulatedMeter::OpenPseudoTerminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        ThrowSystemError("cannot open a pseudo-terminal");
    master_.assign(master);
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
        ThrowSystemError("cannot unlock the pseudo-terminal");

    char name[PATH_MAX];
    if (::ptsname_r(master, name, sizeof name) != 0)
        ThrowSystemError("cannot name the pseudo-terminal");
    port_path_ = name;

    slave_fd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_fd_ < 0)
        ThrowSystemError("cannot open the pseudo-terminal's line");
    termios line{};
    if (::tcgetattr(slave_fd_, &line) != 0)
        ThrowSystemError("cannot read the pseudo-terminal's settings");
    ::cfmakeraw(&line);
    TerminalFraming::Apply(line, options_.line);
    if (::tcsetattr(slave_fd_, TCSANOW, &line) != 0)
        ThrowSystemError("cannot set the pseudo-terminal raw");
    master_.non_blocking(true);
}

void SimulatedMeter::Start() {
    if (thread_.joinable())
        return;
    started_ = std::chrono::steady_clock::now();
    ReadMore();
    if (options_.line_faults.BabblePeriod().count() != 0) {
        next_babble_ = started_;
        Babble();
    }
    thread_ = std::thread([this] { io_.run(); });
}

void SimulatedMeter::Stop() {
    io_.stop();
    if (thread_.joinable())
        thread_.join();
}

void SimulatedMeter::ReadMore() {
    master_.async_read_some(boost::asio::buffer(receive_buffer_),
                            [this](const boost::system::error_code& error, std::size_t len) {
                                if (error)
                                    return;  // closed or stopped: the meter goes quiet
                                if (!TerminalFraming::Hears(options_.line, slave_fd_)) {
                                    HeardGarbage(len);
                                    return;
                                }
                                const auto now = std::chrono::steady_clock::now();
                                if (reader_.Pending() == 0)
                                    pending_since_ = now;
                                const auto request_end = RequestEnd(pending_since_);
                                bool garble_echo = false;
                                for (const ReadRequest& request : reader_.Feed(receive_buffer_, len))
                                    garble_echo = Take(request, request_end) == MeterFault::kBadEcho ||
                                                  garble_echo;
                                if (reader_.Pending() != 0)
                                    pending_since_ = now;
                                if (options_.echo)
                                    Echo(receive_buffer_, len, garble_echo);
                                ReadMore();
                            });
}

// A garbled echo has the last byte it carries inverted: the request's
// checksum, as the request ends in this chunk.
void SimulatedMeter::Echo(unsigned char* data, std::size_t len, bool garbled) {
    if (len == 0)
        return;
    std::vector<unsigned char> echo(data, data + len);
    if (garbled)
        echo.back() = static_cast<unsigned char>(~echo.back());
    Deliver(echo.data(), echo.size());
}

void SimulatedMeter::Deliver(const unsigned char* data, std::size_t len) {
    const LineFaults& faults = options_.line_faults;
    if (faults.TransportDelay().count() == 0 && faults.BurstPeriod().count() == 0) {
        Write(data, len);
        return;
    }
    auto due = std::chrono::steady_clock::now() + faults.TransportDelay();
    if (faults.BurstPeriod().count() != 0) {
        // The next tick of the adapter's timer at or after the bytes' arrival.
        const auto period = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            faults.BurstPeriod());
        const auto ticks = (due - started_ + period - std::chrono::steady_clock::duration(1)) / period;
        due = started_ + ticks * period;
    }
    if (!in_transit_.empty() && in_transit_.back().due == due) {
        in_transit_.back().bytes.insert(in_transit_.back().bytes.end(), data, data + len);
        return;
    }
    in_transit_.push_back({due, std::vector<unsigned char>(data, data + len)});
    if (in_transit_.size() == 1)
        WaitForHandOver();
}

void SimulatedMeter::WaitForHandOver() {
    transit_timer_.expires_at(in_transit_.front().due);
    transit_timer_.async_wait([this](const boost::system::error_code& error) {
        if (!error)
            HandOverDue();
    });
}

void SimulatedMeter::HandOverDue() {
    const auto now = std::chrono::steady_clock::now();
    while (!in_transit_.empty() && in_transit_.front().due <= now) {
        Write(in_transit_.front().bytes.data(), in_transit_.front().bytes.size());
        in_transit_.pop_front();
    }
    if (!in_transit_.empty())
        WaitForHandOver();
}

void SimulatedMeter::Write(const unsigned char* data, std::size_t len) {
    while (len != 0) {
        boost::system::error_code error;
        const std::size_t written = master_.write_some(boost::asio::buffer(data, len), error);
        if (error)
            return;
        data += written;
        len -= written;
    }
}

// A byte every period, counted from the start, whatever else is on the line.
void SimulatedMeter::Babble() {
    next_babble_ += options_.line_faults.BabblePeriod();
    babble_timer_.expires_at(next_babble_);
    babble_timer_.async_wait([this](const boost::system::error_code& error) {
        if (error)
            return;
        const unsigned char byte = kBabbleByte;
        Deliver(&byte, 1);
        Babble();
    });
}

// The host writes a request's bytes at once and the pseudo-terminal hands
// them over at once; on a real line they take their character times, and
// the meter hears the last one only then. A request written byte by byte
// at the line's pace ends when it arrives.
std::chrono::steady_clock::time_point SimulatedMeter::RequestEnd(
    std::chrono::steady_clock::time_point first_byte) const {
    return std::max(std::chrono::steady_clock::now(),
                    first_byte + character_time_ * static_cast<long>(kReadRequestLength));
}

MeterFault SimulatedMeter::Take(const ReadRequest& request,
                                std::chrono::steady_clock::time_point request_end) {
    const std::vector<std::uint8_t>& stations = options_.stations;
    if (std::find(stations.begin(), stations.end(), request.station) == stations.end())
        return MeterFault::kNone;
    const std::uint32_t number = ++requests_taken_[request.station];
    MeterFault fault =
        options_.faults.At(request.station, number, request.station == stations.front());
    // A busy meter hears a request only between its answers.
    if (fault == MeterFault::kBusy && !Answering(request.station))
        fault = MeterFault::kNone;
    if (observer_)
        observer_(request, number, fault);
    for (Reply& reply : RepliesTo(request.station, number, fault)) {
        reply.request_end = request_end;
        Queue(request.station, std::move(reply));
    }
    return fault;
}

bool SimulatedMeter::Answering(std::uint8_t station) const {
    const auto found = outboxes_.find(station);
    return found != outboxes_.end() && found->second->sending;
}

std::vector<unsigned char> SimulatedMeter::StandardAnswer(std::uint8_t station,
                                                          std::uint32_t number) {
    const std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(station, number);
    std::vector<unsigned char> bytes(block.begin(), block.begin() + kStandardLength - 2);
    bytes[2] = static_cast<unsigned char>(kStandardLength - 5);
    AppendModbusChecksum(bytes);
    return bytes;
}

std::vector<unsigned char> SimulatedMeter::ExceptionAnswer(std::uint8_t station) {
    std::vector<unsigned char> bytes = {station, kReadInputRegisters | 0x80, kExceptionCode};
    AppendModbusChecksum(bytes);
    return bytes;
}

std::vector<std::vector<unsigned char>> SimulatedMeter::FramesTo(std::uint8_t station,
                                                                 std::uint32_t number,
                                                                 MeterFault fault) {
    if (fault == MeterFault::kSilent)
        return {};
    const std::uint8_t next_station = StationAddress::Next(station);
    if (fault == MeterFault::kWrongStation)
        station = next_station;
    const std::vector<unsigned char> block = SimulatedReadings::AnswerBlock(station, number);
    std::vector<unsigned char> bytes;
    switch (fault) {
    case MeterFault::kShort:
        bytes.assign(block.begin(), block.begin() + kShortLength);
        break;
    case MeterFault::kExtra:
        bytes = block;
        bytes.insert(bytes.end(), kExtraLength, 0x5A);
        break;
    case MeterFault::kNoise:
        bytes = kNoise;
        bytes.insert(bytes.end(), block.begin(), block.end());
        break;
    case MeterFault::kCorrupt:
        // A bit flipped on the line: the checksum still is the one the
        // meter computed, so only a receiver that checks it can tell.
        bytes = block;
        bytes[kCorruptByte] ^= kCorruptBit;
        break;
    case MeterFault::kTwice:
        return {block, block};
    case MeterFault::kNeighbour:
        // Another meter on the line takes the request for its own.
        return {block, SimulatedReadings::AnswerBlock(next_station, number + kNeighbourAnswerOffset)};
    case MeterFault::kStandard:
        return {StandardAnswer(station, number)};
    case MeterFault::kException:
        return {ExceptionAnswer(station)};
    case MeterFault::kBusy:  // not taken: no answer at all
        return {};
    default:
        bytes = block;
        break;
    }
    return {bytes};
}

std::vector<unsigned char> SimulatedMeter::AnswerTo(std::uint8_t station, std::uint32_t number,
                                                   MeterFault fault) {
    if (fault == MeterFault::kBusy)  // as taken by a meter between answers
        fault = MeterFault::kNone;
    std::vector<unsigned char> bytes;
    for (const std::vector<unsigned char>& frame : FramesTo(station, number, fault))
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

std::vector<SimulatedMeter::Reply> SimulatedMeter::RepliesTo(std::uint8_t station,
                                                             std::uint32_t number,
                                                             MeterFault fault) const {
    std::vector<Reply> replies;
    const int stray = options_.line_faults.StrayBytes();
    for (std::vector<unsigned char>& frame : FramesTo(station, number, fault)) {
        Reply reply;
        reply.bytes = std::move(frame);
        // The driver lets go of the line after the frame's last byte.
        reply.bytes.insert(reply.bytes.end(), kStray.begin(), kStray.begin() + stray);
        if (!replies.empty())
            reply.delay = character_time_ * options_.following_gap_characters;
        else if (fault == MeterFault::kLate)
            reply.delay = options_.late_delay;
        else
            reply.delay = character_time_ * kTurnaroundCharacters;
        replies.push_back(std::move(reply));
    }
    return replies;
}

void SimulatedMeter::Queue(std::uint8_t station, Reply reply) {
    std::unique_ptr<Outbox>& outbox = outboxes_[station];
    if (!outbox)
        outbox = std::make_unique<Outbox>(io_);
    outbox->replies.push_back(std::move(reply));
    if (!outbox->sending)
        StartNextReply(*outbox);
}

void SimulatedMeter::StartNextReply(Outbox& outbox) {
    if (outbox.replies.empty()) {
        outbox.sending = false;
        return;
    }
    outbox.sending = true;
    outbox.bytes_sent = 0;
    const Reply& reply = outbox.replies.front();
    outbox.reply_starts_at =
        std::max(std::chrono::steady_clock::now(), reply.request_end) + reply.delay;
    outbox.pace_timer.expires_at(outbox.reply_starts_at + character_time_);
    outbox.pace_timer.async_wait([this, &outbox](const boost::system::error_code& error) {
        if (!error)
            SendDueBytes(outbox);
    });
}

// Byte k of a reply has arrived k + 1 character times after the reply
// starts: a byte is the receiver's once its stop bit is on the line. Bytes
// that fell due while the thread was held up go out together, as a line
// would have delivered them.
void SimulatedMeter::SendDueBytes(Outbox& outbox) {
    const std::vector<unsigned char>& bytes = outbox.replies.front().bytes;
    const auto elapsed = std::chrono::steady_clock::now() - outbox.reply_starts_at;
    const std::size_t due = std::min<std::size_t>(
        bytes.size(), static_cast<std::size_t>(elapsed / character_time_));
    if (due > outbox.bytes_sent) {
        Deliver(bytes.data() + outbox.bytes_sent, due - outbox.bytes_sent);
        outbox.bytes_sent = due;
    }
    if (outbox.bytes_sent == bytes.size()) {
        outbox.replies.pop_front();
        StartNextReply(outbox);
        return;
    }
    outbox.pace_timer.expires_at(outbox.reply_starts_at +
                                 character_time_ * static_cast<long>(outbox.bytes_sent + 1));
    outbox.pace_timer.async_wait([this, &outbox](const boost::system::error_code& error) {
        if (!error)
            SendDueBytes(outbox);
    });
}

// Bytes sent at another speed or framing reach a meter as garbage: no
// request is in them, and what it was reading is spoiled. An adapter's
// echo is the host's own side and comes back all the same.
void SimulatedMeter::HeardGarbage(std::size_t len) {
    reader_ = RequestReader();
    if (options_.echo)
        Echo(receive_buffer_, len, false);
    ReadMore();
}
