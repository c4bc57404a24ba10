#include "SerialDeviceSettings.h"

#include "StationAddress.h"

std::optional<std::uint8_t> SerialDeviceSettings::StationIn(const Json::Value& settings) {
    if (!settings.isObject())
        return std::nullopt;
    const Json::Value& station = settings[kStationKey];
    if (!station.isInt())
        return std::nullopt;
    const int address = station.asInt();
    if (address < 0 || !StationAddress::Valid(static_cast<unsigned int>(address)))
        return std::nullopt;
    return static_cast<std::uint8_t>(address);
}

// The serial parameter's meaning is the controller's and is not known here.
// The only value a device is known to pass is 3, and the meters it is passed
// for run 8 data bits, no parity, one stop bit; the stand-in takes every value
// as 8N1, so a real line that differs is set with the bench host's options.
LineSettings SerialDeviceSettings::LineFor(int baud_rate, int /*serial_parameter*/) {
    LineSettings line;
    if (baud_rate > 0)
        line.baud = baud_rate;
    line.data_bits = 8;
    line.parity = Parity::kNone;
    line.stop_bits = 1;
    return line;
}
