#include "AlarmMappingSettings.h"

#include <cctype>
#include <climits>
#include <iostream>

bool AlarmMappingSettings::Present(const Json::Value& value) {
    static const Json::Value null_value(Json::nullValue);
    return value != null_value;
}

int AlarmMappingSettings::ParseMode(const std::string& text) {
    std::size_t pos = 0;
    while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

void AlarmMappingSettings::AppendAlarmPart(const Json::Value& member, const char* part,
                                           std::uint32_t data_id, std::string& alarm_id) {
    const Json::Value& value = member[part];
    if (Present(value))
        alarm_id += value.asString();
    else
        // Operator trace, compared byte for byte by the tests.
        std::cout << data_id << " " << part << " is missing" << std::endl;
    alarm_id += ';';
}
