#include "RequestReader.h"

#include "ModbusCrc.h"

namespace {

constexpr unsigned char kReadInputRegisters = 0x04;

bool IsReadRequest(const unsigned char* frame) {
    return frame[1] == kReadInputRegisters &&
           ModbusChecksumMatches(frame, RequestReader::kRequestLength);
}

std::uint16_t Word(const unsigned char* high_first) {
    return static_cast<std::uint16_t>((high_first[0] << 8) | high_first[1]);
}

}  // namespace

std::vector<ReadRequest> RequestReader::Feed(const unsigned char* data, std::size_t len) {
    pending_.insert(pending_.end(), data, data + len);

    std::vector<ReadRequest> requests;
    std::size_t pos = 0;
    while (pending_.size() - pos >= kRequestLength) {
        const unsigned char* frame = pending_.data() + pos;
        if (!IsReadRequest(frame)) {
            ++pos;
            continue;
        }
        ReadRequest request;
        request.station = frame[0];
        request.start = Word(frame + 2);
        request.quantity = Word(frame + 4);
        requests.push_back(request);
        pos += kRequestLength;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    return requests;
}
