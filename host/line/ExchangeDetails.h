#pragma once

#include <string>
#include <vector>

class Exchange;

// The --verbose lines of one exchange: its request and answer frames in hex
// (with the number of chunks the answer came in), then `notes` (the records
// published) and the plug-in's own lines. `exchange` may be null: before
// the first one.
std::vector<std::string> ExchangeDetails(const Exchange* exchange,
                                         const std::vector<std::string>& notes,
                                         const std::vector<std::string>& plugin_lines);
