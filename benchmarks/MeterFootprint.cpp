#include "MeterFootprint.h"

#include "AllocationCounter.h"
#include "MeterSetup.h"
#include "QVT7702.h"
#include "QuietFramework.h"

#include <memory>

MeterFootprint MeterFootprint::Measure(const Json::Value& settings, unsigned int data_id) {
    const QuietFramework quiet;
    MeterFootprint footprint;
    footprint.object_bytes = sizeof(QVT7702);
    footprint.receive_buffer_bytes = sizeof(QVT7702::rx_buffer_);

    AllocationCounter counter;
    auto meter = std::make_unique<QVT7702>();
    footprint.object_block_bytes = counter.HeapGrowth();

    counter.Restart();
    ConfigureMeter(*meter, data_id, settings);
    footprint.held_bytes = counter.HeapGrowth();
    footprint.held_blocks = counter.Allocations() - counter.Releases();
    return footprint;
}

void MeterFootprint::Print(std::ostream& out) const {
    out << "Footprint of one meter configured with the example settings:\n"
        << "  object:           " << object_bytes << " bytes (receive buffer " << receive_buffer_bytes
        << ", heap block " << object_block_bytes << ")\n"
        << "  heap it holds:    " << held_bytes << " bytes in " << held_blocks << " blocks\n"
        << "  total:            " << object_block_bytes + held_bytes << " bytes\n\n";
}
