#include "ReadRequest.h"

#include "ModbusCrc.h"

namespace {

constexpr std::size_t kStationByte = 0;
constexpr std::size_t kFunctionByte = 1;
constexpr std::size_t kStartByte = 2;
constexpr std::size_t kQuantityByte = 4;
constexpr std::size_t kChecksumByte = 6;

void PutWord(ReadRequestFrame& frame, std::size_t at, std::uint16_t word) {
    frame[at] = static_cast<unsigned char>(word >> 8);
    frame[at + 1] = static_cast<unsigned char>(word & 0xFF);
}

std::uint16_t Word(const unsigned char* high_first) {
    return static_cast<std::uint16_t>((high_first[0] << 8) | high_first[1]);
}

}  // namespace

ReadRequestFrame ReadRequest::Frame() const {
    ReadRequestFrame frame{};
    frame[kStationByte] = station;
    frame[kFunctionByte] = kReadInputRegisters;
    PutWord(frame, kStartByte, start);
    PutWord(frame, kQuantityByte, quantity);
    PutModbusChecksum(frame.data(), kChecksumByte);
    return frame;
}

std::optional<ReadRequest> ReadRequest::FromFrame(const unsigned char* frame) {
    if (frame[kFunctionByte] != kReadInputRegisters ||
        !ModbusChecksumMatches(frame, kReadRequestLength))
        return std::nullopt;
    ReadRequest request;
    request.station = frame[kStationByte];
    request.start = Word(frame + kStartByte);
    request.quantity = Word(frame + kQuantityByte);
    return request;
}
