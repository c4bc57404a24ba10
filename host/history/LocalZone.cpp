#include "LocalZone.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace {

constexpr const char* kZoneFolder = "zoneinfo/";

std::string OffsetNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const long minutes = local.tm_gmtoff / 60;
    char text[16];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+',
                  static_cast<int>(std::labs(minutes) / 60 % 100), static_cast<int>(std::labs(minutes) % 60));
    return text;
}

}  // namespace

std::string LocalZone::Name() {
    if (const char* tz = std::getenv("TZ"); tz != nullptr && *tz != '\0') {
        std::string name = tz[0] == ':' ? tz + 1 : tz;
        const std::size_t folder = name.find(kZoneFolder);
        if (folder != std::string::npos)
            name = name.substr(folder + std::string(kZoneFolder).size());
        if (!name.empty() && name.find(' ') == std::string::npos && name.find(',') == std::string::npos)
            return name;
        return OffsetNow();
    }
    std::error_code error;
    const std::string target = std::filesystem::read_symlink("/etc/localtime", error).string();
    const std::size_t folder = target.find(kZoneFolder);
    if (!error && folder != std::string::npos)
        return target.substr(folder + std::string(kZoneFolder).size());
    std::ifstream file("/etc/timezone");
    std::string name;
    if (file >> name && name.find(',') == std::string::npos)
        return name;
    return OffsetNow();
}

std::string LocalZone::ColumnName(const std::string& column) {
    return column + "_" + Name();
}
