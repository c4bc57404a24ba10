#include "LineFaults.h"

#include "LongestWait.h"

#include <boost/lexical_cast.hpp>

#include <stdexcept>

namespace {

struct LineFaultName {
    LineFault fault;
    const char* name;
    const char* figure;  // what N counts
    int fallback;        // N when not given
    int lowest;
    int highest;
    const char* meaning;
};

// One row a kind: the help texts and the parser both read it.
const LineFaultName kLineFaultNames[] = {
    {LineFault::kStray, "stray", "BYTES", 1, 1, 2, "1 or 2 bytes (00, FF) after every answer"},
    {LineFault::kBabble, "babble", "MS", 100, 10, kLongestWaitMs,
     "a byte (FF) every MS ms, forever"},
    {LineFault::kBursts, "bursts", "MS", 16, 1, 1000,
     "bytes held and handed over every MS ms, as an adapter's latency timer does"},
    {LineFault::kDelay, "delay", "MS", 30, 1, kLongestWaitMs,
     "every byte MS ms later, as through a gateway"},
};

const LineFaultName& Row(LineFault fault) {
    for (const LineFaultName& row : kLineFaultNames)
        if (row.fault == fault)
            return row;
    return kLineFaultNames[0];
}

}  // namespace

void LineFaults::Add(const std::string& text) {
    const std::string::size_type equals = text.find('=');
    const std::string name = text.substr(0, equals);
    for (const LineFaultName& row : kLineFaultNames) {
        if (name != row.name)
            continue;
        if (equals == std::string::npos) {
            Set(row.fault, row.fallback);
            return;
        }
        const std::string figure = text.substr(equals + 1);
        try {
            if (!figure.empty() && figure[0] != '-' && figure[0] != '+') {
                Set(row.fault, boost::lexical_cast<int>(figure));
                return;
            }
        } catch (const boost::bad_lexical_cast&) {
        }
        throw std::invalid_argument("bad figure '" + figure + "' in '" + text + "' (" + row.name +
                                    "=" + row.figure + ", from " + std::to_string(row.lowest) +
                                    " to " + std::to_string(row.highest) + ")");
    }
    throw std::invalid_argument("unknown line fault '" + name + "' in '" + text +
                                "' (known: " + KindList() + ")");
}

void LineFaults::Set(LineFault fault, int figure) {
    const LineFaultName& row = Row(fault);
    if (figures_.count(fault) != 0)
        throw std::invalid_argument(std::string("line fault ") + row.name + " given twice");
    if (figure < row.lowest || figure > row.highest)
        throw std::invalid_argument(std::string(row.name) + "=" + std::to_string(figure) +
                                    ": " + row.figure + " must be from " +
                                    std::to_string(row.lowest) + " to " +
                                    std::to_string(row.highest));
    figures_[fault] = figure;
}

int LineFaults::FigureOf(LineFault fault) const {
    const auto found = figures_.find(fault);
    return found == figures_.end() ? 0 : found->second;
}

int LineFaults::StrayBytes() const { return FigureOf(LineFault::kStray); }

std::chrono::milliseconds LineFaults::BabblePeriod() const {
    return std::chrono::milliseconds(FigureOf(LineFault::kBabble));
}

std::chrono::milliseconds LineFaults::BurstPeriod() const {
    return std::chrono::milliseconds(FigureOf(LineFault::kBursts));
}

std::chrono::milliseconds LineFaults::TransportDelay() const {
    return std::chrono::milliseconds(FigureOf(LineFault::kDelay));
}

std::vector<std::string> LineFaults::Texts() const {
    std::vector<std::string> texts;
    for (const LineFaultName& row : kLineFaultNames)
        if (figures_.count(row.fault) != 0)
            texts.push_back(std::string(row.name) + "=" + std::to_string(FigureOf(row.fault)));
    return texts;
}

const char* LineFaults::Name(LineFault fault) { return Row(fault).name; }

std::string LineFaults::KindList() {
    std::string list;
    for (const LineFaultName& row : kLineFaultNames) {
        if (!list.empty())
            list += ", ";
        list += std::string(row.name) + "[=" + row.figure + "] (" + row.meaning + "; default " +
                std::to_string(row.fallback) + ")";
    }
    return list;
}
