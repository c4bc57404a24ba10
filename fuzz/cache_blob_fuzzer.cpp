// Fuzzes the cache re-load: the input is a stored blob handed to both
// LoadFromCache overloads of fresh meters, followed by queries of every key.
//
// Checked: only a blob of exactly 59 bytes is accepted; an accepted blob is
// published with its own data id and values and a fresh time stamp, and
// queries answer from it; a refused blob changes nothing (no round, queries
// still not ready). Lengths that the byte-string overload cannot produce
// (negative, a null pointer) are refused as well.
#include "Invariant.h"
#include "QVT7702.h"
#include "QuietCheckingHost.h"
#include "SignalOracle.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kRecordLength = sizeof(QVT7702_Data_t);
constexpr std::size_t kTimeStampOffset = 52;

void QueryEveryKey(const QVT7702& meter, const RecordCheckingSink& sink) {
    for (int i = 0; i < kQueryKeyCount; ++i)
        CheckQuery(meter, kQueryKeys[i], sink.last_published());
}

void CheckLoad(const QVT7702& meter, const RecordCheckingSink& sink, int result,
               const std::uint8_t* blob, std::size_t size) {
    const bool accepted = size == kRecordLength;
    Require(result == (accepted ? 1 : 0), "only a 59-byte blob is accepted");
    Require(sink.published_count() == (accepted ? 1u : 0u), "an accepted blob completes one round");
    Require(meter.data_ready_ == accepted, "a refused blob leaves the meter without data");
    if (accepted) {
        const std::vector<unsigned char>& record = sink.last_published();
        Require(std::equal(blob, blob + kTimeStampOffset, record.begin()),
                "the cached data id and values are published as they were");
        const TTime stamp = get_ttime(meter.last_update_);
        Require(std::memcmp(&stamp, record.data() + kTimeStampOffset, sizeof stamp) == 0,
                "a re-loaded record is stamped with the time of the load");
    }
    QueryEveryKey(meter, sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    RecordCheckingSink& sink = QuietCheckingHost();
    {
        QVT7702 meter;
        const int result = meter.LoadFromCache(data, static_cast<int>(size));
        CheckLoad(meter, sink, result, data, size);
    }
    sink.Clear();
    {
        QVT7702 meter;
        const int result = meter.LoadFromCache(std::string(data, data + size));
        CheckLoad(meter, sink, result, data, size);
    }
    sink.Clear();
    {
        QVT7702 meter;
        Require(meter.LoadFromCache(data, -static_cast<int>(size) - 1) == 0,
                "a negative length is refused");
        Require(meter.LoadFromCache(nullptr, static_cast<int>(kRecordLength)) == 0,
                "a missing blob is refused");
        Require(sink.published_count() == 0, "a refused blob completes no round");
    }
    return 0;
}
