#include "LineStart.h"

#include "BenchError.h"
#include "SMDSPDevice.h"
#include "SerialDeviceSettings.h"

#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>

LineSettings ChooseLine(const BenchOptions& options, const SMDSPDevice& first) {
    return options.LineFrom(SerialDeviceSettings::LineFor(first.baud_rate_, first.serial_param_));
}

std::unique_ptr<SimulatedMeter> StartSimulator(const BenchOptions& options,
                                               const MeterLineup& meters,
                                               const LineSettings& line) {
    SimulatedMeterOptions simulated;
    simulated.stations.clear();
    for (const MeterLineup::Meter& meter : meters.Meters())
        simulated.stations.push_back(meter.station);
    simulated.line = line;
    // Meters put where the host has to find them (a scan).
    if (!options.simulator_stations.empty())
        simulated.stations = options.simulator_stations;
    if (options.simulator_framing)
        simulated.line = *options.simulator_framing;
    simulated.faults = options.simulator_faults;
    // Only here is the first meter's station known, which the faults named
    // without a station belong to.
    try {
        simulated.faults.SetDefaultStation(simulated.stations.front());
    } catch (const std::invalid_argument& failure) {
        throw BenchError(ExitCode::kUsage,
                         std::string("--sim-fault: ") + failure.what() + " (see --help)");
    }
    simulated.late_delay = std::chrono::milliseconds(options.simulator_late_ms);
    simulated.following_gap_characters = options.simulator_copy_gap;
    simulated.echo = options.simulator_echo;
    simulated.line_faults = options.simulator_line;
    try {
        auto simulator = std::make_unique<SimulatedMeter>(simulated);
        simulator->Start();
        return simulator;
    } catch (const std::system_error& failure) {
        throw BenchError(ExitCode::kPort,
                         std::string("cannot start the simulated meter: ") + failure.what());
    }
}
