// Fuzzes the device settings: the input is parsed as JSON (text that does not
// parse is skipped) and handed to InitSetting on a fresh meter, then again on
// the same meter, as the controller does when an operator edits the settings.
//
// JsonCpp's own errors (Json::Exception, for a lookup or a conversion the
// tree's types do not allow) may leave InitSetting; anything else escaping is
// a finding. Checked after every call: the settings tree is unchanged, the
// record carries the device's data id, and every alarm-id text is built from
// its three parts.
#include "Invariant.h"
#include "QVT7702.h"
#include "QuietCheckingHost.h"

#include <json/reader.h>
#include <json/value.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace {

constexpr std::uint32_t kDeviceDataId = 4711;

// A meter whose settings state the fuzzer may look at.
class SettingsMeter : public QVT7702 {
public:
    using QVT7702::alarm_ids_;
    using QVT7702::b_mode_;
    using QVT7702::record_;
    using QVT7702::signal_names_;
};

bool Parse(const std::uint8_t* data, std::size_t size, Json::Value& settings) {
    static const std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    const char* text = reinterpret_cast<const char*>(data);
    std::string errors;
    return reader->parse(text, text + size, &settings, &errors);
}

void CheckState(const SettingsMeter& meter) {
    const std::uint32_t record_id = meter.record_.data_id;
    Require(record_id == kDeviceDataId, "the record carries the device's data id");
    for (const auto& entry : meter.alarm_ids_) {
        const std::string& text = entry.second;
        Require(!text.empty() && text.back() == ';', "an alarm-id text ends with ';'");
        Require(std::count(text.begin(), text.end(), ';') >= 3,
                "an alarm-id text has a separator after each of its three parts");
    }
    if (meter.b_mode_ != 3)
        Require(meter.alarm_ids_.empty() && meter.signal_names_.empty(),
                "outside mode 3 no alarm mapping is read");
}

void ApplySettings(SettingsMeter& meter, const Json::Value& settings, const Json::Value& original) {
    try {
        const int result = meter.InitSetting(settings);
        Require(result == FrameworkProbe::Instance().init_setting_result,
                "InitSetting returns the Modbus base's result");
    } catch (const Json::Exception&) {
        // JsonCpp refused a lookup or a conversion: an allowed outcome.
    }
    Require(settings == original, "InitSetting leaves the settings tree unchanged");
    CheckState(meter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QuietCheckingHost();
    Json::Value settings;
    if (!Parse(data, size, settings))
        return 0;
    const Json::Value original = settings;

    SettingsMeter meter;
    meter.data_id_ = kDeviceDataId;
    ApplySettings(meter, settings, original);
    ApplySettings(meter, settings, original);
    return 0;
}
