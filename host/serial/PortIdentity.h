#pragma once

#include <optional>
#include <string>

// What the system knows of a serial device beyond its path: the stable
// name udev gives it under /dev/serial/by-id (which stays the same when a
// USB adapter comes back as another ttyUSB number) and, for a USB serial
// adapter, its latency timer: how long it holds received bytes back
// before it hands a short packet to the host.
class PortIdentity {
public:
    static constexpr const char* kByIdDirectory = "/dev/serial/by-id";
    static constexpr const char* kSysfsRoot = "/sys";
    // Above this the adapter holds every answer back noticeably.
    static constexpr int kLowLatencyTimerMs = 1;

    // `by_id` and `sysfs` are where to look; tests point them elsewhere.
    static PortIdentity Of(const std::string& path, const std::string& by_id = kByIdDirectory,
                           const std::string& sysfs = kSysfsRoot);

    const std::string& Path() const { return path_; }
    // The /dev/serial/by-id link that leads to the device; empty without one.
    const std::string& StableName() const { return stable_name_; }
    // "ttyUSB0": the kernel's name of the device the path leads to.
    const std::string& KernelName() const { return kernel_name_; }
    // The adapter's latency timer in ms; nothing for a port without one.
    const std::optional<int>& LatencyTimerMs() const { return latency_timer_ms_; }
    // Where the latency timer was read (its sysfs file), for the hint.
    const std::string& LatencyTimerFile() const { return latency_timer_file_; }

    // The path to open again later: the stable name where there is one.
    std::string ReopenPath() const { return stable_name_.empty() ? path_ : stable_name_; }
    // "/dev/serial/by-id/usb-FTDI_..-if00-port0 (/dev/ttyUSB0)", or the path.
    std::string Label() const;
    // The banner's words on the latency timer; empty for a port without one.
    std::string LatencyNote() const;
    // One line suggesting a lower timer when it is above 1 ms; else empty.
    std::string LatencyHint() const;

private:
    std::string path_;
    std::string stable_name_;
    std::string kernel_name_;
    std::optional<int> latency_timer_ms_;
    std::string latency_timer_file_;
};
