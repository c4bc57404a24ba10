#pragma once

#include "FrameworkSink.h"

#include <cstdint>
#include <string>
#include <vector>

class SMDSPDevice;

// The meter's own request and its own decoding, from the loaded plug-in: a
// driver the plug-in's provider created and configured, its station set
// before each request and RefreshStatus called, what the stand-in
// framework then transmits taken as the request. A whole answer block goes
// to the same driver, and its values come from its Get_Value, so a scan
// finds what the bench host will poll, framed as the driver frames it.
//
// Installed as the framework's sink while it lives: the driver's published
// and stored records go nowhere.
class ScanProbe : public FrameworkSink {
public:
    struct Value {
        std::string key;   // "Ua"
        std::string text;  // "230.23", or the query's failure message
        std::string unit;  // "V", "raw"
    };

    explicit ScanProbe(SMDSPDevice& meter);
    ~ScanProbe() override;
    ScanProbe(const ScanProbe&) = delete;
    ScanProbe& operator=(const ScanProbe&) = delete;

    // The request the driver sends to `station`.
    std::vector<unsigned char> RequestFor(std::uint8_t station);
    // The driver's values after it has taken `block` (the answer to the
    // request last made); empty when it did not complete a round on it.
    std::vector<Value> Decode(const std::vector<unsigned char>& block);

    void Transmit(SMDSPDevice& device, const unsigned char* data, unsigned int len) override;
    void Published(SMDVDevice& device, int data_id, const unsigned char* data,
                   unsigned int len) override;

private:
    SMDSPDevice& meter_;
    FrameworkSink* replaced_;
    std::vector<unsigned char> sent_;
    std::uint64_t published_ = 0;
};
