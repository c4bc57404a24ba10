#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// A meter's settings file: the JSON tree handed to the device at
// configuration, with the device's data id under "dataId" (a number) for the
// framework's own initialisation and, optionally, its station address under
// "stationAddress" (a StationAddress) for the framework's Modbus settings reader.
// Everything else in it is the device's.
class DeviceSettings {
public:
    // Throws BenchError (settings) when the path is a directory or a device,
    // the file cannot be read, does not parse (JsonCpp's message, with line
    // and column; text after the JSON value counts as an error), lacks a
    // usable "dataId" or names no valid station (StationAddress; null included).
    // A pipe is read as its writer sends; a stop signal while it waits for
    // one throws StopRequested.
    static DeviceSettings Load(const std::string& path);

    const Json::Value& Tree() const { return tree_; }
    std::uint32_t DataId() const { return data_id_; }

private:
    Json::Value tree_;
    std::uint32_t data_id_ = 0;
};
