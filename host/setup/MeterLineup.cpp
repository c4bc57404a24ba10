#include "MeterLineup.h"

#include "BenchError.h"
#include "SPModbus.h"

namespace {

[[noreturn]] void Clash(const MeterLineup::Meter& first, const std::string& second_path,
                        const std::string& what) {
    throw BenchError(ExitCode::kLine, "settings files " + first.settings_path + " and " +
                                          second_path + " both name " + what +
                                          ": each meter on a line needs its own");
}

}  // namespace

void MeterLineup::Add(std::unique_ptr<SMDSPDevice> device, const std::string& settings_path) {
    Meter meter;
    meter.settings_path = settings_path;
    meter.data_id = device->DataId();
    // The station the framework addresses the meter's requests to.
    if (const auto* modbus = dynamic_cast<const SPModbus*>(device.get()))
        meter.station = modbus->station_address_;
    for (const Meter& other : meters_) {
        if (other.station == meter.station)
            Clash(other, settings_path, "station " + std::to_string(meter.station));
        if (other.data_id == meter.data_id)
            Clash(other, settings_path, "data id " + std::to_string(meter.data_id));
    }
    meter.device = std::move(device);
    meters_.push_back(std::move(meter));
}
