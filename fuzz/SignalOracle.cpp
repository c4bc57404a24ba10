#include "SignalOracle.h"

#include "Invariant.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

struct SignalPlace {
    const char* key;
    int element;    // index into the record's twelve values
    bool in_volts;  // stored in hundredths of a volt
};

const SignalPlace kPlaces[] = {
    {"Ua", 4, true},  {"Ub", 5, true},  {"Uc", 6, true},  {"Uab", 1, true},
    {"Ubc", 2, true}, {"Uca", 3, true}, {"Ia", 8, false}, {"Ic", 9, false},
};

constexpr std::size_t kValuesOffset = 4;

bool SameValue(float got, float expected) {
    if (std::isnan(expected))
        return std::isnan(got);
    return got == expected;
}

}  // namespace

const char* const kQueryKeys[] = {"Ua", "Ub", "Uc", "Uab", "Ubc", "Uca", "Ia",
                                  "Ic", "Ib", "ua", "Ua ", ""};
const int kQueryKeyCount = sizeof kQueryKeys / sizeof kQueryKeys[0];

std::optional<float> ExpectedValue(const std::vector<unsigned char>& record, const std::string& key) {
    for (const SignalPlace& place : kPlaces) {
        if (key != place.key)
            continue;
        float raw;
        std::memcpy(&raw, record.data() + kValuesOffset + 4 * place.element, sizeof raw);
        return place.in_volts ? raw / 100.0f : raw;
    }
    return std::nullopt;
}

std::optional<float> CheckQuery(const QVT7702& meter, const std::string& key,
                                const std::vector<unsigned char>& last_published) {
    const bool ready = !last_published.empty();
    const std::optional<float> expected =
        ready ? ExpectedValue(last_published, key) : std::nullopt;
    try {
        const float got = meter.Get_Value(0, key);
        Require(expected.has_value(), "only a supported key with data gives a value");
        Require(SameValue(got, *expected), "a query answers from the latest published record");
        return got;
    } catch (const std::out_of_range& failure) {
        const std::string message = failure.what();
        if (!ready) {
            Require(message == "数据未就绪", "before any round a query is not ready");
        } else if (expected.has_value()) {
            Require(message == "数据已超时", "a supported key with data fails only by age");
        } else {
            Require(message == "不支持变量" || message == "数据已超时",
                    "an unknown key is not supported");
        }
        return std::nullopt;
    }
}
