#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The parts of a record device's settings reader that do not depend on the
// record: reading the working mode and assembling alarm ids. The template
// (UniDataDevice) walks the tree and keeps the results.
class AlarmMappingSettings {
public:
    // The working mode in which the alarm-mapping table is read.
    static const int kMappingMode = 3;

    // A settings key counts as present when its value is not null.
    static bool Present(const Json::Value& value);

    // The mode is read like C's atoi (leading white space, an optional sign,
    // decimal digits, anything after them ignored, no digits give 0), except
    // that a number beyond the range of int is clamped to it instead of being
    // undefined.
    static int ParseMode(const std::string& text);

    // Appends one part of "<NMAlarmID>;<ID>;<SignalNumber>;" from a table
    // member: its text, or nothing when it is missing (with the operator
    // trace line "<data id> <part> is missing"), then ';'.
    static void AppendAlarmPart(const Json::Value& member, const char* part,
                                std::uint32_t data_id, std::string& alarm_id);
};
