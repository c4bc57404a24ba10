#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <ostream>

// What one meter occupies once configured: the object as the provider
// creates it, and the heap blocks it holds after the framework's
// initialisation and InitSetting (entries of the alarm-mapping maps and of
// the framework's threshold maps, with their strings). Heap sizes are
// malloc's usable bytes; needs AllocationCounter.cpp in the program.
struct MeterFootprint {
    static MeterFootprint Measure(const Json::Value& settings, unsigned int data_id);
    void Print(std::ostream& out) const;

    std::size_t object_bytes = 0;          // sizeof(QVT7702)
    std::size_t receive_buffer_bytes = 0;  // the framework's receive buffer within it
    std::int64_t object_block_bytes = 0;   // the heap block holding the object
    std::int64_t held_bytes = 0;           // heap held beyond the object
    std::uint64_t held_blocks = 0;
};
