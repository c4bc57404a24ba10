#include "ScanSettings.h"

#include "BenchError.h"
#include "SerialDeviceSettings.h"

#include <json/reader.h>
#include <json/writer.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

constexpr const char* kDataIdKey = "dataId";

// The data id of every settings file in the folder, by file name.
std::map<std::string, std::uint32_t> DataIdsIn(const fs::path& folder) {
    std::map<std::string, std::uint32_t> ids;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().extension() != ".json")
            continue;
        std::ifstream in(entry->path());
        Json::Value tree;
        Json::CharReaderBuilder builder;
        std::string ignored;
        if (Json::parseFromStream(builder, in, &tree, &ignored) && tree.isObject() &&
            tree[kDataIdKey].isUInt())
            ids[entry->path().filename().string()] = tree[kDataIdKey].asUInt();
    }
    return ids;
}

}  // namespace

std::string ScanSettings::FileName(std::uint8_t station) {
    return "qvt7702-station" + std::to_string(station) + ".json";
}

std::vector<ScanSettings::Written> ScanSettings::Write(const std::string& folder,
                                                       const std::vector<ScanFinding>& found,
                                                       const Json::Value& settings) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder))
        throw BenchError(ExitCode::kSettings, "--write-settings: cannot make folder " + folder +
                                                  (error ? ": " + error.message() : ""));
    std::map<std::string, std::uint32_t> existing = DataIdsIn(folder);
    std::set<std::uint32_t> taken;
    for (const auto& [name, id] : existing)
        taken.insert(id);

    std::vector<Written> written;
    std::set<std::uint8_t> done;
    for (const ScanFinding& finding : found) {
        if (finding.kind != ScanFinding::Kind::kMeterBlock || !done.insert(finding.station).second)
            continue;
        const std::string name = FileName(finding.station);
        std::uint32_t data_id = 0;
        if (const auto same = existing.find(name); same != existing.end()) {
            data_id = same->second;
        } else {
            data_id = kDataIdBase + finding.station;
            while (taken.count(data_id) != 0)
                ++data_id;
        }
        taken.insert(data_id);
        Json::Value tree = settings.isObject() ? settings : Json::Value(Json::objectValue);
        tree[kDataIdKey] = data_id;
        tree[SerialDeviceSettings::kStationKey] = finding.station;
        const fs::path path = fs::path(folder) / name;
        Json::StreamWriterBuilder builder;
        builder["indentation"] = "  ";
        std::ofstream out(path);
        out << Json::writeString(builder, tree) << '\n';
        out.close();
        if (!out)
            throw BenchError(ExitCode::kSettings, "--write-settings: cannot write " + path.string());
        written.push_back({path.string(), finding.station, data_id, finding.line});
    }
    return written;
}
