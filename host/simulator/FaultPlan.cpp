#include "FaultPlan.h"

#include "StationAddress.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>

#include <stdexcept>

namespace {

struct FaultName {
    MeterFault fault;
    const char* name;
    const char* meaning;
};

// One row a kind: the help texts and the parser both read it.
const FaultName kFaultNames[] = {
    {MeterFault::kSilent, "silent", "no answer"},
    {MeterFault::kShort, "short", "the first 30 bytes of the answer only"},
    {MeterFault::kExtra, "extra", "the answer and 4 bytes to spare"},
    {MeterFault::kNoise, "noise", "5 stray bytes, then the answer"},
    {MeterFault::kLate, "late", "the answer after the late delay"},
    {MeterFault::kWrongStation, "station", "the answer as the next station would send it"},
    {MeterFault::kBadEcho, "echo", "the line's echo of the request garbled"},
    {MeterFault::kCorrupt, "corrupt", "the answer with one bit of a reading flipped"},
    {MeterFault::kTwice, "twice", "the answer, then the same answer again"},
    {MeterFault::kNeighbour, "neighbour", "the answer, then the next station's answer"},
    {MeterFault::kStandard, "standard", "a 47-byte answer of the 21 registers asked for"},
    {MeterFault::kException, "exception", "a Modbus exception answer, code 2"},
    {MeterFault::kBusy, "busy", "the request not taken while an answer is still due"},
};

// The request number that stands for every request of a station.
constexpr std::uint32_t kEveryRequest = 0;

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
                                "' (requests count from 1, or * for every request)");
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
            if (StationAddress::Valid(address))
                return static_cast<std::uint8_t>(address);
        }
    } catch (const boost::bad_lexical_cast&) {
    }
    throw std::invalid_argument("bad station '" + station + "' in '" + text +
                                "' (a station address is from " + std::to_string(StationAddress::kLowest) +
                                " to " + std::to_string(StationAddress::kHighest) + ")");
}

// "4", "2:4", "every request", "every request of station 2".
std::string RequestText(std::uint8_t station, std::uint32_t request) {
    if (request == kEveryRequest)
        return station != 0 ? "every request of station " + std::to_string(station)
                            : "every request";
    return (station != 0 ? std::to_string(station) + ":" : std::string()) + std::to_string(request);
}

}  // namespace

void FaultPlan::Add(const std::string& text) {
    const std::string::size_type at = text.find('@');
    if (at == std::string::npos)
        throw std::invalid_argument("fault '" + text + "' is not KIND@N[,N...]");
    const MeterFault fault = FaultNamed(text.substr(0, at), text);

    std::string requests = text.substr(at + 1);
    std::uint8_t station = StationNamed(requests, text);
    if (station == 0)
        station = default_station_;
    std::vector<std::string> numbers;
    boost::split(numbers, requests, boost::is_any_of(","));
    Faults added;
    for (const std::string& number : numbers) {
        if (number == "*" && numbers.size() != 1)
            throw std::invalid_argument("'*' in '" + text +
                                        "' stands for every request: no numbers beside it");
        const Request request{station, number == "*" ? kEveryRequest : RequestNumber(number, text)};
        RefuseSecondFault(request, fault, added);
        RefuseSecondFault(request, fault, faults_);
        added[request] = fault;
    }
    faults_.insert(added.begin(), added.end());
}

void FaultPlan::SetDefaultStation(std::uint8_t station) {
    Faults resolved;
    for (const auto& [request, fault] : faults_)
        if (request.first != 0)
            resolved.insert({request, fault});
    for (const auto& [request, fault] : faults_) {
        if (request.first != 0)
            continue;
        const Request own{station, request.second};
        RefuseSecondFault(own, fault, resolved);
        resolved[own] = fault;
    }
    faults_ = std::move(resolved);
    default_station_ = station;
}

// A request clashes with the same request and with every request of its
// station; every request clashes with each of the station's.
std::optional<FaultPlan::Faults::value_type> FaultPlan::Clash(const Request& request,
                                                              const Faults& planned) {
    if (request.second == kEveryRequest) {
        const auto first = planned.lower_bound({request.first, 0});
        if (first != planned.end() && first->first.first == request.first)
            return *first;
        return std::nullopt;
    }
    for (const Request& taken : {request, Request{request.first, kEveryRequest}}) {
        const auto found = planned.find(taken);
        if (found != planned.end())
            return *found;
    }
    return std::nullopt;
}

// The simulated meter puts one fault into an answer; taking only one of two
// named for a request would run another test than the one asked for.
void FaultPlan::RefuseSecondFault(const Request& request, MeterFault fault, const Faults& planned) {
    const std::optional<Faults::value_type> clash = Clash(request, planned);
    if (!clash)
        return;
    const std::string number = RequestText(request.first, request.second);
    if (clash->first == request) {
        if (clash->second == fault)
            throw std::invalid_argument("request " + number + " is named twice for " + Name(fault));
        throw std::invalid_argument("two faults for request " + number + ": " +
                                    Name(clash->second) + " and " + Name(fault) +
                                    " (one fault per request)");
    }
    const std::string other = RequestText(clash->first.first, clash->first.second);
    throw std::invalid_argument("two faults for one request: " + std::string(Name(clash->second)) +
                                " for " + other + " and " + Name(fault) + " for " + number +
                                " (one fault per request)");
}

MeterFault FaultPlan::Find(const Faults& planned, std::uint8_t station, std::uint32_t request) {
    for (const Request& taken : {Request{station, request}, Request{station, kEveryRequest}}) {
        const auto found = planned.find(taken);
        if (found != planned.end())
            return found->second;
    }
    return MeterFault::kNone;
}

MeterFault FaultPlan::At(std::uint32_t request) const {
    return Find(faults_, default_station_, request);
}

MeterFault FaultPlan::At(std::uint8_t station, std::uint32_t request, bool is_default) const {
    const MeterFault own = Find(faults_, station, request);
    if (own != MeterFault::kNone || !is_default || default_station_ != 0)
        return own;
    return Find(faults_, 0, request);
}

const char* FaultPlan::Name(MeterFault fault) {
    for (const FaultName& entry : kFaultNames)
        if (entry.fault == fault)
            return entry.name;
    return "none";
}

const char* FaultPlan::Meaning(MeterFault fault) {
    for (const FaultName& entry : kFaultNames)
        if (entry.fault == fault)
            return entry.meaning;
    return "the answer as usual";
}

std::vector<MeterFault> FaultPlan::Kinds() {
    std::vector<MeterFault> kinds;
    for (const FaultName& entry : kFaultNames)
        kinds.push_back(entry.fault);
    return kinds;
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
