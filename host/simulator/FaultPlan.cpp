#include "FaultPlan.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>

#include <stdexcept>

namespace {

struct FaultName {
    MeterFault fault;
    const char* name;
};

const FaultName kFaultNames[] = {
    {MeterFault::kSilent, "silent"}, {MeterFault::kShort, "short"},
    {MeterFault::kExtra, "extra"},   {MeterFault::kNoise, "noise"},
    {MeterFault::kLate, "late"},     {MeterFault::kWrongStation, "station"},
    {MeterFault::kBadEcho, "echo"},  {MeterFault::kCorrupt, "corrupt"},
};

MeterFault FaultNamed(const std::string& name, const std::string& text) {
    for (const FaultName& entry : kFaultNames)
        if (name == entry.name)
            return entry.fault;
    throw std::invalid_argument("unknown fault '" + name + "' in '" + text +
                                "' (known: " + FaultPlan::KindList() + ")");
}

std::uint32_t RequestNumber(const std::string& number, const std::string& text) {
    try {
        if (!number.empty() && number[0] != '-' && number[0] != '+') {
            const std::uint32_t request = boost::lexical_cast<std::uint32_t>(number);
            if (request != 0)
                return request;
        }
    } catch (const boost::bad_lexical_cast&) {
    }
    throw std::invalid_argument("bad request number '" + number + "' in '" + text +
                                "' (requests count from 1)");
}

// "S:" before the request numbers names their station.
std::uint8_t StationNamed(std::string& numbers, const std::string& text) {
    const std::string::size_type colon = numbers.find(':');
    if (colon == std::string::npos)
        return 0;
    const std::string station = numbers.substr(0, colon);
    numbers.erase(0, colon + 1);
    try {
        if (!station.empty() && station[0] != '-' && station[0] != '+') {
            const unsigned int address = boost::lexical_cast<unsigned int>(station);
            if (address >= 1 && address <= 247)
                return static_cast<std::uint8_t>(address);
        }
    } catch (const boost::bad_lexical_cast&) {
    }
    throw std::invalid_argument("bad station '" + station + "' in '" + text +
                                "' (a station address is from 1 to 247)");
}

}  // namespace

void FaultPlan::Add(const std::string& text) {
    const std::string::size_type at = text.find('@');
    if (at == std::string::npos)
        throw std::invalid_argument("fault '" + text + "' is not KIND@N[,N...]");
    const MeterFault fault = FaultNamed(text.substr(0, at), text);

    std::string requests = text.substr(at + 1);
    const std::uint8_t station = StationNamed(requests, text);
    std::vector<std::string> numbers;
    boost::split(numbers, requests, boost::is_any_of(","));
    std::map<Request, MeterFault> added;
    for (const std::string& number : numbers) {
        const Request request{station, RequestNumber(number, text)};
        RefuseSecondFault(request, fault, added);
        RefuseSecondFault(request, fault, faults_);
        added[request] = fault;
    }
    faults_.insert(added.begin(), added.end());
}

// The simulated meter puts one fault into an answer; taking only one of two
// named for a request would run another test than the one asked for.
void FaultPlan::RefuseSecondFault(const Request& request, MeterFault fault,
                                  const std::map<Request, MeterFault>& planned) {
    const auto found = planned.find(request);
    if (found == planned.end())
        return;
    const std::string number =
        (request.first != 0 ? std::to_string(request.first) + ":" : std::string()) +
        std::to_string(request.second);
    if (found->second == fault)
        throw std::invalid_argument("request " + number + " is named twice for " + Name(fault));
    throw std::invalid_argument("two faults for request " + number + ": " + Name(found->second) +
                                " and " + Name(fault) + " (one fault per request)");
}

MeterFault FaultPlan::At(std::uint32_t request) const {
    const auto found = faults_.find({0, request});
    return found == faults_.end() ? MeterFault::kNone : found->second;
}

MeterFault FaultPlan::At(std::uint8_t station, std::uint32_t request, bool is_default) const {
    const auto found = faults_.find({station, request});
    if (found != faults_.end())
        return found->second;
    return is_default ? At(request) : MeterFault::kNone;
}

const char* FaultPlan::Name(MeterFault fault) {
    for (const FaultName& entry : kFaultNames)
        if (entry.fault == fault)
            return entry.name;
    return "none";
}

std::string FaultPlan::KindList() {
    std::string list;
    for (const FaultName& entry : kFaultNames) {
        if (!list.empty())
            list += ", ";
        list += entry.name;
    }
    return list;
}
