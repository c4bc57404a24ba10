// Fuzzes the meter's receive path the way the controller drives it: polls,
// chunks of received bytes, and value queries in between.
//
// The input is a script of steps. Each step is a 3-byte header and a chunk:
//   byte 0      bit 0: RefreshStatus before the chunk (a new poll)
//               bit 1: a value query after the chunk
//               bits 4..7: which key to query (kQueryKeys, wrapping around)
//   bytes 1, 2  the chunk's length, most significant byte first; a length
//               past the end of the input takes what is left
//   then        the chunk, handed to process() in one call
//
// Besides the sanitizers, every step is checked against a model of the
// receive buffer: how many bytes it holds, when an answer is decoded, which
// values it carries, and what a query must return.
#include "Invariant.h"
#include "QVT7702.h"
#include "QuietCheckingHost.h"
#include "SignalOracle.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kHeaderLength = 3;
constexpr std::size_t kBufferSize = SMDSPDevice::kRxBufferSize;
constexpr std::size_t kAnswerLength = QVT7702::kAnswerLength;

// What the receive buffer should hold, kept independently of the driver.
class ReceiveModel {
public:
    enum class Outcome { kGathering, kDecoded, kOverflow };

    void Poll() { held_.clear(); }

    Outcome Take(const unsigned char* data, std::size_t len) {
        if (held_.size() + len > kBufferSize) {
            held_.clear();
            return Outcome::kOverflow;
        }
        held_.insert(held_.end(), data, data + len);
        if (held_.size() != kAnswerLength)
            return Outcome::kGathering;
        answer_ = held_;
        held_.clear();
        return Outcome::kDecoded;
    }

    std::size_t held() const { return held_.size(); }

    // Word i of the latest decoded answer: bytes 9 + 2i and 10 + 2i.
    float Word(int i) const {
        return static_cast<float>(answer_[9 + 2 * i] * 256u + answer_[10 + 2 * i]);
    }

private:
    std::vector<unsigned char> held_;
    std::vector<unsigned char> answer_;
};

float RecordValue(const std::vector<unsigned char>& record, int i) {
    float value;
    std::memcpy(&value, record.data() + 4 + 4 * i, sizeof value);
    return value;
}

void CheckDecodedRecord(const std::vector<unsigned char>& record, const ReceiveModel& model) {
    for (int i = 0; i < QVT7702::kWordCount; ++i) {
        const float value = RecordValue(record, i);
        Require(value >= 0.0f && value <= 65535.0f && std::floor(value) == value,
                "a decoded value is a whole number from 0 to 65535");
        Require(value == model.Word(i), "word i of the answer becomes values[i]");
    }
}

void CheckChunk(const QVT7702& meter, const RecordCheckingSink& sink, const ReceiveModel& model,
                ReceiveModel::Outcome outcome, int result, std::size_t rounds_before) {
    Require(meter.rx_length_ >= 0 && meter.rx_length_ <= static_cast<int>(kBufferSize),
            "the receive buffer holds 0 to 4096 bytes");
    Require(static_cast<std::size_t>(meter.rx_length_) == model.held(),
            "the receive buffer holds exactly the bytes gathered since it was emptied");
    const bool decoded = outcome == ReceiveModel::Outcome::kDecoded;
    Require(sink.published_count() == rounds_before + (decoded ? 1 : 0),
            "a round completes exactly when 58 bytes are held");
    Require(sink.stored_count() == sink.published_count(), "every round is stored");
    Require(result == (outcome == ReceiveModel::Outcome::kGathering ? 1 : 0),
            "process wants more bytes only while gathering");
    if (decoded)
        CheckDecodedRecord(sink.last_published(), model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordCheckingSink& sink = QuietCheckingHost();
    QVT7702 meter;
    ReceiveModel model;
    std::vector<unsigned char> chunk;

    std::size_t at = 0;
    while (size - at >= kHeaderLength) {
        const std::uint8_t control = data[at];
        std::size_t len = static_cast<std::size_t>(data[at + 1]) << 8 | data[at + 2];
        at += kHeaderLength;
        if (len > size - at)
            len = size - at;
        chunk.assign(data + at, data + at + len);  // process() takes a writable buffer
        at += len;

        if (control & 0x01) {
            meter.RefreshStatus();
            model.Poll();
        }
        const std::size_t rounds_before = sink.published_count();
        const int result = meter.process(chunk.data(), static_cast<unsigned int>(len));
        const ReceiveModel::Outcome outcome = model.Take(chunk.data(), len);
        CheckChunk(meter, sink, model, outcome, result, rounds_before);

        if (control & 0x02) {
            const char* key = kQueryKeys[(control >> 4) % kQueryKeyCount];
            const std::optional<float> value = CheckQuery(meter, key, sink.last_published());
            Require(!value || std::isfinite(*value), "a query returns a finite number");
        }
    }
    return 0;
}
