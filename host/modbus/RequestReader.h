#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One Read Input Registers request (Modbus function 4) as it came off the line.
struct ReadRequest {
    std::uint8_t station = 0;
    std::uint16_t start = 0;
    std::uint16_t quantity = 0;
};

// Finds Read Input Registers requests in the bytes a slave receives. A
// request is 8 bytes: station, 4, start and quantity most significant byte
// first, CRC-16/MODBUS least significant byte first. Bytes that do not begin
// such a frame with a matching checksum are skipped one at a time, so noise
// and frames of other kinds are passed over and the reader falls back into
// step at the next good request.
class RequestReader {
public:
    static constexpr std::size_t kRequestLength = 8;

    // Takes newly received bytes; returns the requests they completed.
    std::vector<ReadRequest> Feed(const unsigned char* data, std::size_t len);

    std::size_t Pending() const { return pending_.size(); }

private:
    std::vector<unsigned char> pending_;
};
