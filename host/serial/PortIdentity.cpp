#include "PortIdentity.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path Canonical(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::canonical(path, error);
    return error ? fs::path() : canonical;
}

// The first link in `directory` that leads to `target`, in name order so
// the choice is the same every time.
std::string LinkTo(const fs::path& target, const std::string& directory) {
    std::error_code error;
    std::string found;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        if (!entry->is_symlink())
            continue;
        if (Canonical(entry->path()) == target &&
            (found.empty() || entry->path().string() < found))
            found = entry->path().string();
    }
    return found;
}

std::optional<int> ReadNumber(const fs::path& file) {
    std::ifstream in(file);
    int value = 0;
    if (in >> value)
        return value;
    return std::nullopt;
}

}  // namespace

PortIdentity PortIdentity::Of(const std::string& path, const std::string& by_id,
                              const std::string& sysfs) {
    PortIdentity identity;
    identity.path_ = path;
    const fs::path target = Canonical(path);
    if (target.empty())
        return identity;
    identity.kernel_name_ = target.filename().string();
    if (fs::path(path).parent_path() != fs::path(by_id))
        identity.stable_name_ = LinkTo(target, by_id);
    else
        identity.stable_name_ = path;
    // An FTDI adapter shows its timer beside the tty's device; the
    // usb-serial bus lists the same port under its own name.
    const fs::path candidates[] = {
        fs::path(sysfs) / "class/tty" / identity.kernel_name_ / "device/latency_timer",
        fs::path(sysfs) / "bus/usb-serial/devices" / identity.kernel_name_ / "latency_timer",
    };
    for (const fs::path& file : candidates) {
        if (const std::optional<int> value = ReadNumber(file)) {
            identity.latency_timer_ms_ = value;
            identity.latency_timer_file_ = file.string();
            break;
        }
    }
    return identity;
}

std::string PortIdentity::Label() const {
    if (stable_name_.empty() || stable_name_ == path_)
        return path_;
    return stable_name_ + " (" + path_ + ")";
}

std::string PortIdentity::LatencyNote() const {
    if (!latency_timer_ms_)
        return "";
    return "adapter latency timer " + std::to_string(*latency_timer_ms_) + " ms";
}

std::string PortIdentity::LatencyHint() const {
    if (!latency_timer_ms_ || *latency_timer_ms_ <= kLowLatencyTimerMs)
        return "";
    return "hint: the adapter holds received bytes up to " + std::to_string(*latency_timer_ms_) +
           " ms; for quicker answers: echo " + std::to_string(kLowLatencyTimerMs) + " | sudo tee " +
           latency_timer_file_;
}
