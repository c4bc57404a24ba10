#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SMDSPDevice;

// The meters of one line, in the order they are polled: each a driver
// object of its own with the station and data id its settings gave it.
// Two meters never share a station (their answers could not be told
// apart) nor a data id (their histories would mix).
class MeterLineup {
public:
    struct Meter {
        std::unique_ptr<SMDSPDevice> device;
        std::string settings_path;
        std::uint8_t station = 0;
        std::uint32_t data_id = 0;
    };

    // Takes a configured meter. Throws BenchError (line) naming both
    // settings files when its station or data id is another meter's.
    void Add(std::unique_ptr<SMDSPDevice> device, const std::string& settings_path);

    std::size_t Size() const { return meters_.size(); }
    Meter& At(std::size_t index) { return meters_.at(index); }
    const Meter& At(std::size_t index) const { return meters_.at(index); }
    const std::vector<Meter>& Meters() const { return meters_; }

private:
    std::vector<Meter> meters_;
};
