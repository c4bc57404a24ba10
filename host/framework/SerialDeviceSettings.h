#pragma once

#include "LineSettings.h"

#include <json/value.h>

#include <cstdint>
#include <optional>

// What the stand-in framework makes of a serial device's own settings: the
// Modbus station it answers at, and how its line is framed.
class SerialDeviceSettings {
public:
    // The settings key of the device's station address.
    static constexpr const char* kStationKey = "stationAddress";

    // The station named in a device's settings tree; nothing when the tree
    // names none or names one that is no station's (StationAddress).
    static std::optional<std::uint8_t> StationIn(const Json::Value& settings);

    // The line a device asks for: its baud rate and its serial parameter.
    static LineSettings LineFor(int baud_rate, int serial_parameter);
};
