#pragma once

#include "FrameworkSink.h"

#include <cstddef>
#include <vector>

// Receives what a meter hands to the stand-in framework and checks it on the
// way: every published record goes out under data id 5178 with exactly the
// record's 59 bytes, and every stored history record is the one just
// published. Keeps the latest published record for the fuzzer's own checks.
class RecordCheckingSink : public FrameworkSink {
public:
    static constexpr int kRecordDataId = 5178;

    void Published(SMDVDevice& device, int data_id, const unsigned char* data,
                   unsigned int len) override;
    void HistoryStored(SMDVDevice& device, const unsigned char* data, unsigned int len) override;

    // Forget everything seen so far (a new input starts).
    void Clear();

    std::size_t published_count() const { return published_count_; }
    std::size_t stored_count() const { return stored_count_; }
    // The latest published record; empty before the first.
    const std::vector<unsigned char>& last_published() const { return last_published_; }

private:
    std::size_t published_count_ = 0;
    std::size_t stored_count_ = 0;
    std::vector<unsigned char> last_published_;
};
