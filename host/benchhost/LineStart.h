// What a poll and a scan both start from: the line the first meter's
// settings ask for, and the simulated meters when no port is given.
#pragma once

#include "BenchOptions.h"
#include "LineSettings.h"
#include "MeterLineup.h"
#include "SimulatedMeter.h"

#include <memory>

class SMDSPDevice;

// The line as the framework reads the first meter's settings, changed by
// the options; the answer timeout follows it unless given.
LineSettings ChooseLine(const BenchOptions& options, const SMDSPDevice& first);

// The simulated meters the options describe, started on a line of their own.
std::unique_ptr<SimulatedMeter> StartSimulator(const BenchOptions& options,
                                               const MeterLineup& meters,
                                               const LineSettings& line);
