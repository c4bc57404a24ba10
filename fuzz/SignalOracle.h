#pragma once

#include "QVT7702.h"

#include <optional>
#include <string>
#include <vector>

// What a value query must give, worked out independently of the driver from
// the latest published record.

// Keys the fuzzers query: the eight the meter answers, then look-alikes it
// must refuse.
extern const char* const kQueryKeys[];
extern const int kQueryKeyCount;

// The value a query for `key` must return given the published `record`
// (59 bytes), or nothing when the meter does not answer that key.
std::optional<float> ExpectedValue(const std::vector<unsigned char>& record, const std::string& key);

// Queries `key` and aborts unless the outcome is the one the latest published
// record calls for: "数据未就绪" before any round, the record's value for a
// supported key ("数据已超时" is allowed once data exists), "不支持变量" for any
// other key. Anything else escaping the query is a finding too. Returns the
// value when one was returned.
std::optional<float> CheckQuery(const QVT7702& meter, const std::string& key,
                                const std::vector<unsigned char>& last_published);
