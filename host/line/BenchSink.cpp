#include "BenchSink.h"

#include "HexText.h"
#include "HistoryWriter.h"
#include "SMDSPDevice.h"
#include "SerialLine.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include <string>
#include <utility>

namespace {

// Local time with milliseconds: "YYYY-MM-DD HH:MM:SS.mmm".
std::string LocalTimeNow() {
    std::string text =
        boost::posix_time::to_iso_extended_string(boost::posix_time::microsec_clock::local_time());
    text[10] = ' ';
    return text.substr(0, 23);
}

}  // namespace

BenchSink::BenchSink(SerialLine& line, HistoryWriter& history, bool verbose, Events events)
    : line_(line),
      history_(history),
      verbose_(verbose),
      events_(std::move(events)),
      replaced_(FrameworkSink::Install(this)) {}

BenchSink::~BenchSink() {
    FrameworkSink::Install(replaced_);
}

void BenchSink::Published(SMDVDevice&, int data_id, const unsigned char* data, unsigned int len) {
    events_.published();
    if (holding_)
        ++held_.published;
    else
        ++published_;
    if (verbose_)
        notes_.push_back("published under " +
                         std::to_string(data_id) + ", " + std::to_string(len) +
                         " bytes: " + HexText(data, len));
}

void BenchSink::HistoryStored(SMDVDevice& device, const unsigned char* data, unsigned int len) {
    if (holding_) {
        held_.history.push_back({device.DataId(), LocalTimeNow(), {data, data + len}});
        return;
    }
    Store(device.DataId(), LocalTimeNow(), data, len);
}

void BenchSink::Store(std::uint32_t data_id, const std::string& stored_at,
                      const unsigned char* data, unsigned int len) {
    if (failure_) {
        ++not_stored_;
        return;
    }
    history_.Hand(data_id, stored_at, data, len);
}

std::uint64_t BenchSink::HistoryCount() const {
    return history_.Stored();
}

std::uint64_t BenchSink::NotStoredCount() const {
    return not_stored_ + history_.NotStored();
}

BenchSink::Held BenchSink::TakeHeld() {
    holding_ = false;
    return std::exchange(held_, {});
}

void BenchSink::Commit(Held held) {
    published_ += held.published;
    for (const HeldRecord& record : held.history)
        Store(record.data_id, record.stored_at, record.bytes.data(),
              static_cast<unsigned int>(record.bytes.size()));
}

void BenchSink::Transmit(SMDSPDevice&, const unsigned char* data, unsigned int len) {
    if (failure_)
        return;
    events_.sent(data, len);
    try {
        line_.Write(data, len);
    } catch (...) {
        failure_ = std::current_exception();
    }
}

void BenchSink::ThrowIfFailed() {
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

std::vector<std::string> BenchSink::TakeNotes() {
    return std::exchange(notes_, {});
}
