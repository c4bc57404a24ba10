#pragma once

#include "QVT7702.h"

#include <json/reader.h>
#include <json/value.h>

#include <array>
#include <cstddef>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

// Brings a meter into the state a controller leaves it in after start-up,
// for measurements that need a realistically configured device.

// The signal keys a meter answers.
inline const std::array<std::string, 8>& MeterSignalKeys() {
    static const std::array<std::string, 8> keys = {"Ua",  "Ub",  "Uc", "Uab",
                                                    "Ubc", "Uca", "Ia", "Ic"};
    return keys;
}

// Reads a JSON settings file; throws std::runtime_error when the file cannot
// be read or does not parse.
inline Json::Value LoadSettings(const std::string& path) {
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("cannot read settings file " + path);
    Json::Value settings;
    Json::CharReaderBuilder builder;
    std::string errors;
    if (!Json::parseFromStream(builder, file, &settings, &errors))
        throw std::runtime_error(path + ": " + errors);
    return settings;
}

// The framework's initialisation under `data_id`, then the meter's own
// settings; returns InitSetting's result.
inline int ConfigureMeter(QVT7702& meter, unsigned int data_id, const Json::Value& settings) {
    meter.Init(std::weak_ptr<SMDController>(), data_id, settings);
    return meter.InitSetting(settings);
}

// Lets the framework watch the first `count` signals: each one is listed in
// ao_signals_ with a value in ao_values_, so every round runs a report check
// and a threshold check for it.
inline void WatchSignals(QVT7702& meter, std::size_t count) {
    meter.ao_signals_.clear();
    meter.ao_values_.clear();
    for (std::size_t i = 0; i < count && i < MeterSignalKeys().size(); ++i) {
        meter.ao_signals_.push_back(MeterSignalKeys()[i]);
        meter.ao_values_[MeterSignalKeys()[i]] = 230.0f;
    }
}
