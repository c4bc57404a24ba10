#pragma once

#include "MeterLineup.h"

#include <string>
#include <vector>

class PluginLibrary;

// One driver object from the provider per settings file, each configured
// as the controller configures a meter: the framework's own initialisation,
// then the device's settings. Throws BenchError (settings) naming the file
// the meter refused, (line) for two meters with one station or data id.
MeterLineup ConfigureMeters(const std::vector<std::string>& settings_paths,
                            const PluginLibrary& plugin);
