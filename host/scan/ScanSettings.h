#pragma once

#include "ScanFinding.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// A settings file for each meter a scan found: the settings the scan was
// given (thresholds, mode) with the meter's station and a data id of its
// own, ready for the bench host to poll.
class ScanSettings {
public:
    // Data ids follow the examples' custom: station s is 1200 + s, or the
    // next one up that no settings file in the folder has.
    static constexpr std::uint32_t kDataIdBase = 1200;

    struct Written {
        std::string path;
        std::uint8_t station;
        std::uint32_t data_id;
        LineSettings line;
    };

    // Writes "qvt7702-station<S>.json" into `folder` (made if missing) for
    // each station found answering with the meter's block, once a station
    // (its first framing). A file already there for the same station keeps
    // its data id, so a meter scanned again keeps its history. Throws
    // BenchError (settings) when the folder cannot be made or written.
    static std::vector<Written> Write(const std::string& folder,
                                      const std::vector<ScanFinding>& found,
                                      const Json::Value& settings);
    static std::string FileName(std::uint8_t station);
};
