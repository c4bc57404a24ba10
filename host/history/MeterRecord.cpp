#include "MeterRecord.h"

#include "QVT7702Signals.h"

#include <cstdio>
#include <cstring>

static_assert(MeterRecord::kSignalCount == kQVT7702SignalCount, "one column per meter signal");

std::optional<MeterRecord> MeterRecord::FromBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.size() != kSize)
        return std::nullopt;
    MeterRecord decoded;
    std::memcpy(static_cast<void*>(&decoded.record_), bytes.data(), kSize);
    return decoded;
}

const std::array<const char*, MeterRecord::kSignalCount>& MeterRecord::SignalKeys() {
    static const std::array<const char*, kSignalCount> keys = [] {
        std::array<const char*, kSignalCount> named{};
        for (int i = 0; i < kSignalCount; ++i)
            named[i] = kQVT7702Signals[i].key;
        return named;
    }();
    return keys;
}

// The table scales only voltages (hundredths of a volt to volts); a signal
// it leaves unscaled is the meter's own register word.
const char* MeterRecord::SignalUnit(int index) {
    return kQVT7702Signals[index].divisor == 1.0f ? "raw" : "V";
}

int MeterRecord::SignalElement(int index) {
    return kQVT7702Signals[index].element;
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
    const QVT7702Signal& signal = kQVT7702Signals[index];
    return QVT7702ScaledValue(signal, record_.values[signal.element]);
}
