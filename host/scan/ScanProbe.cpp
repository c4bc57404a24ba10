#include "ScanProbe.h"

#include "MeterRecord.h"
#include "SMDSPDevice.h"
#include "SPModbus.h"

#include <cstdio>
#include <stdexcept>

ScanProbe::ScanProbe(SMDSPDevice& meter)
    : meter_(meter), replaced_(FrameworkSink::Install(this)) {}

ScanProbe::~ScanProbe() {
    FrameworkSink::Install(replaced_);
}

std::vector<unsigned char> ScanProbe::RequestFor(std::uint8_t station) {
    if (auto* modbus = dynamic_cast<SPModbus*>(&meter_))
        modbus->station_address_ = station;
    sent_.clear();
    meter_.RefreshStatus();
    return sent_;
}

std::vector<ScanProbe::Value> ScanProbe::Decode(const std::vector<unsigned char>& block) {
    const std::uint64_t before = published_;
    std::vector<unsigned char> bytes = block;
    meter_.process(bytes.data(), static_cast<unsigned int>(bytes.size()));
    std::vector<Value> values;
    if (published_ == before)
        return values;
    for (int i = 0; i < MeterRecord::kSignalCount; ++i) {
        Value value{MeterRecord::SignalKeys()[i], "", MeterRecord::SignalUnit(i)};
        try {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f",
                          static_cast<double>(meter_.Get_Value(0, value.key)));
            value.text = text;
        } catch (const std::out_of_range& failure) {
            value.text = failure.what();
        }
        values.push_back(value);
    }
    return values;
}

void ScanProbe::Transmit(SMDSPDevice&, const unsigned char* data, unsigned int len) {
    sent_.insert(sent_.end(), data, data + len);
}

void ScanProbe::Published(SMDVDevice&, int, const unsigned char*, unsigned int) {
    ++published_;
}
