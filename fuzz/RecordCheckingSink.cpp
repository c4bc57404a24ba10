#include "RecordCheckingSink.h"

#include "Invariant.h"
#include "QVT7702_Data_t.h"

#include <algorithm>

void RecordCheckingSink::Published(SMDVDevice&, int data_id, const unsigned char* data,
                                   unsigned int len) {
    Require(data_id == kRecordDataId, "records are published under data id 5178");
    Require(data != nullptr && len == sizeof(QVT7702_Data_t), "a published record is 59 bytes");
    last_published_.assign(data, data + len);
    ++published_count_;
}

void RecordCheckingSink::HistoryStored(SMDVDevice&, const unsigned char* data, unsigned int len) {
    Require(data != nullptr && len == sizeof(QVT7702_Data_t), "a stored record is 59 bytes");
    Require(stored_count_ + 1 == published_count_, "each round stores once, after publishing");
    Require(std::equal(data, data + len, last_published_.begin()),
            "the stored record is the one published in the same round");
    ++stored_count_;
}

void RecordCheckingSink::Clear() {
    published_count_ = 0;
    stored_count_ = 0;
    last_published_.clear();
}
