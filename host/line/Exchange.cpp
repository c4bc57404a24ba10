#include "Exchange.h"

#include "LossNotes.h"
#include "ModbusCrc.h"
#include "ModbusFrame.h"
#include "StationAddress.h"

#include <algorithm>

namespace {

// Modbus sets the top bit of the function code in an exception answer:
// station, function | 0x80, code, checksum.
constexpr unsigned char kExceptionFlag = 0x80;
constexpr std::size_t kExceptionLength = 5;
// A standard answer: station, function, byte count, the registers, checksum.
constexpr std::size_t kStandardOverhead = 5;

template <class Duration>
std::chrono::microseconds Micros(Duration time) {
    return std::chrono::duration_cast<std::chrono::microseconds>(time);
}

}  // namespace

Exchange::Exchange(const Line& line, std::uint8_t station, std::vector<unsigned char> request,
                   Clock::time_point request_end)
    : line_(line), station_(station), request_(std::move(request)), request_end_(request_end) {}

Exchange::Clock::duration Exchange::AnswerFloor(const Line& line) {
    return line.character * 3 / 2 + line.character * static_cast<long>(line.answer_length);
}

Exchange::Clock::duration Exchange::FollowWindow(const Line& line) {
    return line.character * static_cast<long>(line.answer_length);
}

Exchange::Step Exchange::Feed(const unsigned char* data, std::size_t len, Clock::time_point at) {
    Step step;
    const std::size_t echoed = TakeEcho(data, len, step.loss);
    step.echoed = echoed;
    if (step.loss || echoed == len) {
        step.tail_begin = len;
        return step;
    }
    if (!first_byte_at_)
        first_byte_at_ = at;
    else
        longest_pause_ = std::max(longest_pause_, at - last_chunk_at_);
    last_chunk_at_ = at;
    ++chunks_;
    if (answer_.empty() && data[echoed] != station_) {
        step.loss = Loss{StationAddress::Valid(data[echoed]) ? LossReason::kWrongStation
                                                             : LossReason::kNoise,
                         LossNotes::Stranger(data[echoed], station_)};
        step.tail_begin = len;
        return step;
    }
    const std::size_t wanted = line_.answer_length - answer_.size();
    const std::size_t taken = std::min(wanted, len - echoed);
    answer_.insert(answer_.end(), data + echoed, data + echoed + taken);
    step.meter_begin = echoed;
    step.tail_begin = echoed + taken;
    if (answer_.size() < line_.answer_length) {
        step.meter_len = taken;
        return step;
    }
    // The whole block: judged before its last bytes reach the meter, which
    // decodes any 58 bytes it holds.
    step.loss = JudgeWholeAnswer(at);
    if (!step.loss) {
        step.meter_len = taken;
        step.answered = true;
    }
    return step;
}

std::size_t Exchange::TakeEcho(const unsigned char* data, std::size_t len,
                               std::optional<Loss>& loss) {
    if (!line_.echo || echo_.size() >= request_.size())
        return 0;
    const std::size_t taken = std::min(len, request_.size() - echo_.size());
    echo_.insert(echo_.end(), data, data + taken);
    if (!std::equal(echo_.begin(), echo_.end(), request_.begin()))
        loss = Loss{LossReason::kEchoMismatch, LossNotes::EchoMismatch(echo_)};
    return taken;
}

std::optional<Exchange::Loss> Exchange::JudgeWholeAnswer(Clock::time_point at) const {
    if (line_.check_checksum && !ModbusChecksumMatches(answer_.data(), answer_.size()))
        return Loss{LossReason::kBadChecksum, LossNotes::BadChecksum(answer_)};
    const Clock::duration floor = AnswerFloor(line_);
    if (at - request_end_ < floor)
        return Loss{LossReason::kTooEarly, LossNotes::TooEarly(Micros(at - request_end_), Micros(floor))};
    return std::nullopt;
}

// Fewer bytes than the block, then silence: a short answer, unless they
// are a whole answer of another form, which the meter did send.
Exchange::Loss Exchange::TimedOut(unsigned long timeout_ms) const {
    if (line_.echo && echo_.size() < request_.size())
        return Loss{LossReason::kNoAnswer,
                    LossNotes::EchoMissing(echo_.size(), request_.size(), timeout_ms)};
    if (answer_.empty())
        return Loss{LossReason::kNoAnswer, LossNotes::NoAnswer(timeout_ms)};
    const bool whole_frame = ModbusChecksumMatches(answer_.data(), answer_.size());
    if (whole_frame && answer_.size() == kExceptionLength &&
        answer_[1] == (kReadInputRegisters | kExceptionFlag))
        return Loss{LossReason::kException, LossNotes::Exception(answer_[2])};
    if (whole_frame && answer_.size() > kStandardOverhead && answer_[1] == kReadInputRegisters &&
        answer_[2] == answer_.size() - kStandardOverhead)
        return Loss{LossReason::kStandardForm, LossNotes::StandardForm(answer_.size())};
    return Loss{LossReason::kShort, LossNotes::Incomplete(answer_.size(), timeout_ms)};
}

bool Exchange::AnswerStartsWithRequest() const {
    return !line_.echo && answer_.size() >= request_.size() &&
           std::equal(request_.begin(), request_.end(), answer_.begin());
}

bool Exchange::EchoMayBeAFrame() const {
    std::size_t differing = 0;
    for (std::size_t i = 0; i < echo_.size() && i < request_.size(); ++i)
        differing += echo_[i] != request_[i] ? 1 : 0;
    return differing > 1;
}

bool AnswerTail::CanBeginFrame(std::uint8_t byte) {
    return StationAddress::Valid(byte);
}

bool AnswerTail::Feed(const unsigned char* data, std::size_t len) {
    if (len == 0)
        return harmless_;
    if (bytes_ == 0 && CanBeginFrame(data[0]))
        harmless_ = false;
    bytes_ += len;
    if (bytes_ > kMostStrayBytes)
        harmless_ = false;
    return harmless_;
}

std::string AnswerTail::Note() const {
    return LossNotes::Followed(bytes_);
}

void DeliveryPauses::Answered(Clock::duration longest_pause) {
    if (recent_.size() < kAnswersKept)
        recent_.push_back(longest_pause);
    else
        recent_[next_] = longest_pause;
    next_ = (next_ + 1) % kAnswersKept;
}

DeliveryPauses::Clock::duration DeliveryPauses::Longest() const {
    Clock::duration longest = character_;
    for (const Clock::duration pause : recent_)
        longest = std::max(longest, pause);
    return longest - character_;
}
