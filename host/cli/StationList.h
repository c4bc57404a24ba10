#pragma once

#include "MeterKey.h"

#include <cstddef>
#include <string>
#include <vector>

// The banner's list of a line's meters, in polling order: "station 1 data
// id 1201, station 5 data id 77"; a run of more than three meters whose
// stations and data ids both go up by one at a time as one item, "stations
// 1-40 data ids 1201-1240", so that a long line-up of consecutive meters
// takes a few words.
std::vector<std::string> StationListItems(const std::vector<MeterKey>& meters);

// `prefix` and then the items, ", " between them, on lines of at most
// `width` characters (an item longer than that alone on its line); each
// line after the first indented by two spaces. Without a newline at the end.
std::string WrappedList(const std::string& prefix, const std::vector<std::string>& items,
                        std::size_t width);
