#pragma once

#include <stdexcept>
#include <string>

// A wait given up because a stop signal came (Ctrl-C, SIGTERM, SIGHUP): no
// failure, the run ends as stopped. what() names what was being waited for,
// as a phrase: "while reading settings file a.json".
class StopRequested : public std::runtime_error {
public:
    explicit StopRequested(const std::string& while_doing) : std::runtime_error(while_doing) {}
};
