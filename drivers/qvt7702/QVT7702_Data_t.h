#pragma once

#include "TTime.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

// The meter's whole measured state: one packed 59-byte record. It leaves the
// device as raw bytes (published, stored as history, handed back as a cache
// blob), so its layout is fixed to the byte:
//
//   offset  0, 4 bytes   data_id     the device's configured data id
//   offset  4, 48 bytes  values      twelve raw register words as floats
//   offset 52, 7 bytes   time_stamp  local time of the latest round (TTime)
//
// Multi-byte fields are little-endian, floats IEEE-754 single precision.
// The record has no alignment: read a field by value (record.values[i]) or
// copy it out, never through a pointer of the field's type.
struct __attribute__((packed)) QVT7702_Data_t {
    std::uint32_t data_id;
    float values[12];
    TTime time_stamp;
};

static_assert(sizeof(QVT7702_Data_t) == 59, "the meter record is 59 bytes");
static_assert(alignof(QVT7702_Data_t) == 1, "the meter record is packed");
static_assert(offsetof(QVT7702_Data_t, data_id) == 0, "data_id at offset 0");
static_assert(offsetof(QVT7702_Data_t, values) == 4, "values at offset 4");
static_assert(offsetof(QVT7702_Data_t, time_stamp) == 52, "time_stamp at offset 52");
static_assert(std::is_trivially_copyable<QVT7702_Data_t>::value, "the record is copied as bytes");
static_assert(sizeof(float) == 4, "values are IEEE-754 single precision");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the record is stored in the processor's byte order, which must be little-endian");
