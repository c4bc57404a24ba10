#pragma once

#include "LineSettings.h"
#include "ScanProbe.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// What one station answered at one framing.
struct ScanFinding {
    enum class Kind {
        kMeterBlock,  // the 58-byte block the driver decodes
        kStandard,    // a whole answer of the standard length for the registers asked
        kException,   // a Modbus exception answer
        kGarbage,     // bytes that are none of these
    };

    std::uint8_t station = 0;
    LineSettings line;
    Kind kind = Kind::kGarbage;
    // From the request's last byte on the line to the answer's last byte.
    std::chrono::microseconds response{0};
    std::vector<unsigned char> bytes;  // as received, the adapter's echo left out
    std::vector<ScanProbe::Value> values;  // of a meter block, from the driver
    std::string why;  // of garbage: what is wrong with it

    // "found: station 7 at 19200:8E1, 35.21 ms: the meter's 58-byte block: Ua 230.23 V, ..."
    std::string Text() const;
    // "station 7 at 19200:8E1 (meter block)"
    std::string Brief() const;
    static const char* KindName(Kind kind);
};
