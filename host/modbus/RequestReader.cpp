#include "RequestReader.h"

std::vector<ReadRequest> RequestReader::Feed(const unsigned char* data, std::size_t len) {
    pending_.insert(pending_.end(), data, data + len);

    std::vector<ReadRequest> requests;
    std::size_t pos = 0;
    while (pending_.size() - pos >= kReadRequestLength) {
        const std::optional<ReadRequest> request = ReadRequest::FromFrame(pending_.data() + pos);
        if (!request) {
            ++pos;
            continue;
        }
        requests.push_back(*request);
        pos += kReadRequestLength;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    return requests;
}
