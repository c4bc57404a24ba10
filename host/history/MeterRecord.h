#pragma once

#include "QVT7702_Data_t.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A stored 59-byte meter record read back: the data id, the 7-byte time
// stamp, the twelve raw words and the eight signals scaled the way the
// meter's value queries scale them (voltages in volts, currents raw).
class MeterRecord {
public:
    static constexpr std::size_t kSize = sizeof(QVT7702_Data_t);
    static constexpr int kWordCount = 12;
    static constexpr int kSignalCount = 8;

    // Nothing when the bytes are not exactly one record.
    static std::optional<MeterRecord> FromBytes(const std::vector<unsigned char>& bytes);

    // "Ua", "Ub", "Uc", "Uab", "Ubc", "Uca", "Ia", "Ic".
    static const std::array<const char*, kSignalCount>& SignalKeys();
    // The unit signal `index` is served in: "V" for the voltages the table
    // scales to volts, "raw" for the words it serves as the meter reports them.
    static const char* SignalUnit(int index);
    // The record element, and so the answer's register word, signal `index`
    // is read from.
    static int SignalElement(int index);

    std::uint32_t DataId() const;
    // "YYYY-MM-DD HH:MM:SS".
    std::string StampText() const;
    // The same, written at `out`, which must have room for
    // kLongestStampText characters; returns the end of what it wrote.
    static constexpr std::size_t kLongestStampText = 25;
    char* WriteStampText(char* out) const;
    float Word(int index) const;
    // Signal `index` of SignalKeys(), scaled as the meter's value queries
    // scale it (the meter's own signal table).
    float Signal(int index) const;

private:
    QVT7702_Data_t record_{};
};
