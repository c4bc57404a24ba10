#pragma once

#include "LineSettings.h"

#include <cstdint>
#include <string>
#include <vector>

// The texts a person gives for lines and stations, read in one place for
// every tool: a framing "9600:8N1", a list of them "9600:8N1,19200:8E1",
// a list of stations "1-20,30".
namespace LineChoices {

// Every one throws std::invalid_argument with the reason.
LineSettings ParseFraming(const std::string& text);
std::vector<LineSettings> ParseFramings(const std::string& text);
std::vector<std::uint8_t> ParseStations(const std::string& text);

// "9600:8N1", as ParseFraming takes it.
std::string FramingText(const LineSettings& line);
// "1-20,30": runs of consecutive stations folded.
std::string StationsText(const std::vector<std::uint8_t>& stations);

// The speeds a scan tries when not told, the most used first.
const std::vector<int>& CommonSpeeds();
// The framings of each speed a scan tries when not told.
const std::vector<std::string>& CommonFramings();
// Every common speed at every common framing, speed by speed.
std::vector<LineSettings> CommonLines();

}  // namespace LineChoices
