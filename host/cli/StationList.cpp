#include "StationList.h"

namespace {

constexpr std::size_t kShortestRun = 4;

bool Follows(const MeterKey& next, const MeterKey& meter) {
    return next.station == meter.station + 1 && next.data_id == meter.data_id + 1;
}

std::string One(const MeterKey& meter) {
    return "station " + std::to_string(meter.station) + " data id " + std::to_string(meter.data_id);
}

}  // namespace

std::vector<std::string> StationListItems(const std::vector<MeterKey>& meters) {
    std::vector<std::string> items;
    for (std::size_t first = 0; first < meters.size();) {
        std::size_t last = first;
        while (last + 1 < meters.size() && Follows(meters[last + 1], meters[last]))
            ++last;
        if (last - first + 1 >= kShortestRun) {
            items.push_back("stations " + std::to_string(meters[first].station) + '-' +
                            std::to_string(meters[last].station) + " data ids " +
                            std::to_string(meters[first].data_id) + '-' +
                            std::to_string(meters[last].data_id));
            first = last + 1;
        } else {
            items.push_back(One(meters[first]));
            ++first;
        }
    }
    return items;
}

std::string WrappedList(const std::string& prefix, const std::vector<std::string>& items,
                        std::size_t width) {
    const std::string indent = "  ";
    std::string text = prefix;
    std::size_t line_length = prefix.size();
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
        if (line_length > indent.size() && line_length + 1 + item.size() > width) {
            text += '\n' + indent + item;
            line_length = indent.size() + item.size();
        } else {
            text += ' ' + item;
            line_length += 1 + item.size();
        }
    }
    return text;
}
