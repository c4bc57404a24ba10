#pragma once

#include <boost/crc.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

// CRC-16/MODBUS (polynomial 0x8005 reflected, initial value 0xFFFF), the
// checksum that closes every Modbus RTU frame, least significant byte first.
using ModbusCrc = boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true>;

inline std::uint16_t ModbusChecksum(const unsigned char* data, std::size_t len) {
    ModbusCrc crc;
    crc.process_bytes(data, len);
    return static_cast<std::uint16_t>(crc.checksum());
}

// Closes a frame: the checksum of its first `len` bytes into the two after
// them.
inline void PutModbusChecksum(unsigned char* frame, std::size_t len) {
    const std::uint16_t crc = ModbusChecksum(frame, len);
    frame[len] = static_cast<unsigned char>(crc & 0xFF);
    frame[len + 1] = static_cast<unsigned char>(crc >> 8);
}

// Closes a frame held in a vector: its checksum appended.
inline void AppendModbusChecksum(std::vector<unsigned char>& frame) {
    const std::size_t len = frame.size();
    frame.resize(len + 2);
    PutModbusChecksum(frame.data(), len);
}

// True when the last two of `len` bytes are the checksum of the ones before.
inline bool ModbusChecksumMatches(const unsigned char* frame, std::size_t len) {
    if (len < 3)
        return false;
    const std::uint16_t crc = ModbusChecksum(frame, len - 2);
    return frame[len - 2] == (crc & 0xFF) && frame[len - 1] == (crc >> 8);
}
