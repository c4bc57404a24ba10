#include "MeterSetup.h"

#include "BenchError.h"
#include "DeviceSettings.h"
#include "PluginLibrary.h"
#include "SMDSPDevice.h"

#include <exception>
#include <memory>

namespace {

// The framework's own initialisation, then the device's settings.
void Configure(SMDSPDevice& meter, const DeviceSettings& settings, const std::string& path) {
    int result = 0;
    try {
        meter.Init(std::weak_ptr<SMDController>(), settings.DataId(), settings.Tree());
        result = meter.InitSetting(settings.Tree());
    } catch (const std::exception& failure) {
        throw BenchError(ExitCode::kSettings,
                         "settings file " + path + ": the meter refused them: " + failure.what());
    }
    if (result != 1)
        throw BenchError(ExitCode::kSettings, "settings file " + path +
                                                  ": the meter's InitSetting returned " +
                                                  std::to_string(result));
}

}  // namespace

MeterLineup ConfigureMeters(const std::vector<std::string>& settings_paths,
                            const PluginLibrary& plugin) {
    std::vector<DeviceSettings> settings;
    for (const std::string& path : settings_paths)
        settings.push_back(DeviceSettings::Load(path));
    MeterLineup meters;
    for (std::size_t i = 0; i < settings.size(); ++i) {
        std::unique_ptr<SMDSPDevice> meter = plugin.CreateMeter();
        Configure(*meter, settings[i], settings_paths[i]);
        meters.Add(std::move(meter), settings_paths[i]);
    }
    return meters;
}
