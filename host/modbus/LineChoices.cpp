#include "LineChoices.h"

#include "StationAddress.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <stdexcept>

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator))
        parts.push_back(part);
    if (!text.empty() && text.back() == separator)
        parts.emplace_back();
    return parts;
}

// A whole decimal number, nothing around it.
bool Number(const std::string& text, unsigned long& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoul(text);
    return true;
}

constexpr unsigned long kHighestBaud = 4000000;

}  // namespace

namespace LineChoices {

LineSettings ParseFraming(const std::string& text) {
    const std::size_t colon = text.find(':');
    unsigned long baud = 0;
    const std::string framing = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (colon == std::string::npos || !Number(text.substr(0, colon), baud) || baud < 1 ||
        baud > kHighestBaud || framing.size() != 3)
        throw std::invalid_argument("a framing is SPEED:8N1, 8E1, 8O1, 8N2, 8E2 or 8O2 with a "
                                    "speed from 1 to 4000000, not '" + text + "'");
    LineSettings line;
    line.baud = static_cast<int>(baud);
    const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(framing[1])));
    if (framing[0] != '8' || (parity != 'N' && parity != 'E' && parity != 'O') ||
        (framing[2] != '1' && framing[2] != '2'))
        throw std::invalid_argument("a framing is SPEED:8N1, 8E1, 8O1, 8N2, 8E2 or 8O2, not '" +
                                    text + "'");
    line.parity = parity == 'E' ? Parity::kEven : parity == 'O' ? Parity::kOdd : Parity::kNone;
    line.stop_bits = framing[2] - '0';
    return line;
}

std::vector<LineSettings> ParseFramings(const std::string& text) {
    std::vector<LineSettings> lines;
    for (const std::string& part : Split(text, ',')) {
        const LineSettings line = ParseFraming(part);
        const bool repeated = std::any_of(lines.begin(), lines.end(), [&](const LineSettings& seen) {
            return FramingText(seen) == FramingText(line);
        });
        if (!repeated)
            lines.push_back(line);
    }
    if (lines.empty())
        throw std::invalid_argument("no framing given");
    return lines;
}

std::vector<std::uint8_t> ParseStations(const std::string& text) {
    std::set<std::uint8_t> stations;
    const std::string bounds = "a station is from " + std::to_string(StationAddress::kLowest) +
                               " to " + std::to_string(StationAddress::kHighest);
    for (const std::string& part : Split(text, ',')) {
        const std::size_t dash = part.find('-');
        unsigned long first = 0;
        unsigned long last = 0;
        const bool read = dash == std::string::npos
                              ? Number(part, first) && Number(part, last)
                              : Number(part.substr(0, dash), first) &&
                                    Number(part.substr(dash + 1), last);
        if (!read)
            throw std::invalid_argument("stations are given as N or N-M, separated by commas, "
                                        "not '" + part + "'");
        if (!StationAddress::Valid(static_cast<unsigned int>(first)) ||
            !StationAddress::Valid(static_cast<unsigned int>(last)))
            throw std::invalid_argument(bounds + ", not '" + part + "'");
        if (last < first)
            throw std::invalid_argument("a range of stations runs upwards, not '" + part + "'");
        for (unsigned long station = first; station <= last; ++station)
            stations.insert(static_cast<std::uint8_t>(station));
    }
    if (stations.empty())
        throw std::invalid_argument("no station given");
    return {stations.begin(), stations.end()};
}

std::string FramingText(const LineSettings& line) {
    return std::to_string(line.baud) + ":" + line.Framing();
}

std::string StationsText(const std::vector<std::uint8_t>& stations) {
    std::string text;
    for (std::size_t i = 0; i < stations.size();) {
        std::size_t j = i;
        while (j + 1 < stations.size() && stations[j + 1] == stations[j] + 1)
            ++j;
        text += (text.empty() ? "" : ",") + std::to_string(stations[i]);
        if (j > i)
            text += "-" + std::to_string(stations[j]);
        i = j + 1;
    }
    return text;
}

const std::vector<int>& CommonSpeeds() {
    static const std::vector<int> speeds = {9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200};
    return speeds;
}

const std::vector<std::string>& CommonFramings() {
    static const std::vector<std::string> framings = {"8N1", "8E1", "8O1", "8N2"};
    return framings;
}

std::vector<LineSettings> CommonLines() {
    std::vector<LineSettings> lines;
    for (const int speed : CommonSpeeds())
        for (const std::string& framing : CommonFramings())
            lines.push_back(ParseFraming(std::to_string(speed) + ":" + framing));
    return lines;
}

}  // namespace LineChoices
