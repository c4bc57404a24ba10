#include "MeterRecord.h"

#include "QVT7702Signals.h"

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
    char text[kLongestStampText];
    return std::string(text, WriteStampText(text));
}

namespace {

// At least `width` digits, as printf's %0Nu.
char* WritePadded(char* out, unsigned value, std::size_t width) {
    char digits[12];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; count < width; ++count)
        digits[count] = '0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

}  // namespace

// Written out by hand: --dump and --csv write one for each of millions of rows.
char* MeterRecord::WriteStampText(char* out) const {
    const TTime stamp = record_.time_stamp;
    out = WritePadded(out, stamp.year, 4);
    *out++ = '-';
    out = WritePadded(out, stamp.month, 2);
    *out++ = '-';
    out = WritePadded(out, stamp.day, 2);
    *out++ = ' ';
    out = WritePadded(out, stamp.hour, 2);
    *out++ = ':';
    out = WritePadded(out, stamp.minute, 2);
    *out++ = ':';
    return WritePadded(out, stamp.second, 2);
}

float MeterRecord::Word(int index) const {
    return record_.values[index];
}

float MeterRecord::Signal(int index) const {
    const QVT7702Signal& signal = kQVT7702Signals[index];
    return QVT7702ScaledValue(signal, record_.values[signal.element]);
}
