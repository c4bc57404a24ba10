#include "MeterRecord.h"

#include <cstdio>
#include <cstring>

namespace {

// Where each signal sits among the twelve words, and whether it is a voltage
// stored in hundredths of a volt.
struct SignalSource {
    int word;
    bool in_volts;
};

const std::array<const char*, MeterRecord::kSignalCount> kKeys = {"Ua",  "Ub",  "Uc", "Uab",
                                                                  "Ubc", "Uca", "Ia", "Ic"};
const SignalSource kSources[MeterRecord::kSignalCount] = {
    {4, true}, {5, true}, {6, true}, {1, true}, {2, true}, {3, true}, {8, false}, {9, false},
};

}  // namespace

std::optional<MeterRecord> MeterRecord::FromBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.size() != kSize)
        return std::nullopt;
    MeterRecord decoded;
    std::memcpy(static_cast<void*>(&decoded.record_), bytes.data(), kSize);
    return decoded;
}

const std::array<const char*, MeterRecord::kSignalCount>& MeterRecord::SignalKeys() {
    return kKeys;
}

std::uint32_t MeterRecord::DataId() const {
    return record_.data_id;
}

std::string MeterRecord::StampText() const {
    const TTime stamp = record_.time_stamp;
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", unsigned{stamp.year},
                  unsigned{stamp.month}, unsigned{stamp.day}, unsigned{stamp.hour},
                  unsigned{stamp.minute}, unsigned{stamp.second});
    return text;
}

float MeterRecord::Word(int index) const {
    return record_.values[index];
}

float MeterRecord::Signal(int index) const {
    const SignalSource source = kSources[index];
    const float raw = record_.values[source.word];
    return source.in_volts ? raw / 100.0f : raw;
}
