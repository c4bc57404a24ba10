#include "FrameworkProbe.h"

#include <stdexcept>
#include <utility>

FrameworkProbe& FrameworkProbe::Instance() {
    static FrameworkProbe probe;
    return probe;
}

void FrameworkProbe::Clear() {
    *this = FrameworkProbe();
}

std::vector<std::string> FrameworkProbe::Names() const {
    std::vector<std::string> names;
    for (const FrameworkCall& call : calls)
        names.push_back(call.name);
    return names;
}

std::vector<FrameworkCall> FrameworkProbe::CallsNamed(const std::string& name) const {
    std::vector<FrameworkCall> found;
    for (const FrameworkCall& call : calls)
        if (call.name == name)
            found.push_back(call);
    return found;
}

void FrameworkProbe::Record(FrameworkCall call) {
    if (recording)
        calls.push_back(std::move(call));
}

void FrameworkProbe::ThrowIfFailing(const char* name) const {
    if (!failing.empty() && failing.count(name) != 0)
        throw std::runtime_error(std::string(name) + " failed");
}
