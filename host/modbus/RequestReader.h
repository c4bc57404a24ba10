#pragma once

#include "ReadRequest.h"

#include <cstddef>
#include <vector>

// Finds Read Input Registers requests in the bytes a slave receives. Bytes
// that do not begin such a frame with a matching checksum are skipped one at
// a time, so noise and frames of other kinds are passed over and the reader
// falls back into step at the next good request.
class RequestReader {
public:
    // Takes newly received bytes; returns the requests they completed.
    std::vector<ReadRequest> Feed(const unsigned char* data, std::size_t len);

    std::size_t Pending() const { return pending_.size(); }

private:
    std::vector<unsigned char> pending_;
};
