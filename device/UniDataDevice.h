#pragma once

#include "AlarmMappingSettings.h"
#include "SMDVDevice.h"
#include "TTime.h"

#include <boost/date_time/posix_time/posix_time.hpp>
#include <json/value.h>

#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <type_traits>

// A framework device whose whole measured state is one fixed-size record.
//
// Data    the packed record; it has a 32-bit `data_id` field and a TTime
//         `time_stamp` field, and is copied as raw bytes.
// Base    the framework device class the driver builds on.
// DataId  the id under which every record of this type is published.
//
// The driver decodes an answer into record_ and calls RoundDone(), which
// finishes the round in one place: time stamp, publish, checks, history.
template <class Data, class Base, int DataId>
class UniDataDevice : public Base {
    static_assert(std::is_trivially_copyable<Data>::value, "records are copied as bytes");

public:
    UniDataDevice() : b_mode_(1) { std::memset(static_cast<void*>(&record_), 0, sizeof(Data)); }
    ~UniDataDevice() override = default;

    using Base::LoadFromCache;

    // Takes back a stored record: accepted only with exactly the record's
    // size, then completed as a fresh round (re-stamped, published, stored).
    int LoadFromCache(const unsigned char* data, int len) override {
        if (data == nullptr || len != static_cast<int>(sizeof(Data)))
            return 0;
        std::memcpy(static_cast<void*>(&record_), data, sizeof(Data));
        this->data_ready_ = true;
        RoundDone();
        return 1;
    }

    void RoundDone() override {
        this->data_ready_ = true;
        this->last_update_ = boost::posix_time::second_clock::local_time();
        record_.time_stamp = get_ttime(this->last_update_);
        this->SMDVDevice::SendSP(DataId, RecordBytes(), sizeof(Data), false);
        this->Reset();
        this->comm_state_ = 1;
        this->report_needed_ = false;
        RunCheckThreshold();
        CheckSignals();
        // Operator trace: the controller's operators read this line; tests
        // compare it byte for byte.
        std::cout << "rvSize is " << static_cast<long long>(this->rule_values_.size())
                  << std::endl;
        const bool batch_report = this->SMDVDevice::DoBatchCheckThreshold(this->rule_values_);
        this->report_needed_ = batch_report || this->report_needed_;
        this->SMDVDevice::SaveDeviceHistory(RecordBytes(), sizeof(Data));
        this->rule_values_.clear();
    }

    int InitSetting(const Json::Value& settings) override;

    // Hook for drivers that check thresholds themselves; nothing by default.
    virtual void RunCheckThreshold() {}

protected:
    const unsigned char* RecordBytes() const {
        return reinterpret_cast<const unsigned char*>(&record_);
    }

    Data record_;
    int b_mode_;
    std::map<std::string, std::string> alarm_ids_;     // signal key -> alarm-id text
    std::map<std::string, std::string> signal_names_;  // signal key -> display name

private:
    // Report and threshold checks for every configured signal that has a
    // value this round; a signal without a value is skipped.
    void CheckSignals() {
        for (std::size_t i = 0; i < this->ao_signals_.size(); ++i) {
            const std::string& key = this->ao_signals_[i];
            const auto found = this->ao_values_.find(key);
            if (found == this->ao_values_.end())
                continue;
            const float value = found->second;
            const bool report = this->SMDVDevice::CheckAOReport(key, value);
            this->report_needed_ = report || this->report_needed_;
            this->SMDVDevice::CheckThreshold(key, std::string(), value, 1);
        }
    }

    void ReadAlarmMapping(const std::string& key, const Json::Value& member);
};

// Settings tree, as read here (everything else is the base's):
//   { "appSetting": { "b_mode": "3" },
//     "thresholdSetting": { "<signal key>": { "SignalName": "...", "NMAlarmID": "...",
//                                             "ID": "...", "SignalNumber": "..." }, ... } }
// Mode 3 (AlarmMappingSettings::kMappingMode) turns on the alarm-mapping
// table. The mode persists between calls, and table entries are added or
// replaced, never removed.
//
// The lines written to standard output here ("InitSetting ...", "here 1",
// "here 2", "here <key>", "mobile:...") are the configuration trace the
// controller's operators read in its log to follow a device's set-up. They
// are output, not debugging left behind: tests compare them byte for byte.
template <class Data, class Base, int DataId>
int UniDataDevice<Data, Base, DataId>::InitSetting(const Json::Value& settings) {
    record_.data_id = this->data_id_;

    const Json::Value& app = settings["appSetting"];
    if (AlarmMappingSettings::Present(app) && app.type() == Json::objectValue) {
        const Json::Value& mode = app["b_mode"];
        if (AlarmMappingSettings::Present(mode)) {
            b_mode_ = AlarmMappingSettings::ParseMode(mode.asString());
            std::cout << "InitSetting " << record_.data_id << " b_mode_:" << b_mode_ << std::endl;
        }
    }

    if (b_mode_ == AlarmMappingSettings::kMappingMode) {
        std::cout << "here 1" << std::endl;
        const Json::Value& table = settings["thresholdSetting"];
        if (AlarmMappingSettings::Present(table)) {
            std::cout << "here 2" << std::endl;
            for (Json::Value::const_iterator it = table.begin(); it != table.end(); it++) {
                const std::string key = it.key().asString();
                std::cout << "here " << key << std::endl;
                ReadAlarmMapping(key, table[key]);
            }
        }
    }

    return Base::InitSetting(settings);
}

// One member of the alarm-mapping table. Members that are not objects carry
// nothing and are skipped.
template <class Data, class Base, int DataId>
void UniDataDevice<Data, Base, DataId>::ReadAlarmMapping(const std::string& key,
                                                         const Json::Value& member) {
    if (member.type() != Json::objectValue)
        return;

    const Json::Value& name = member["SignalName"];
    if (AlarmMappingSettings::Present(name))
        signal_names_[key] = name.asString();

    // "<NMAlarmID>;<ID>;<SignalNumber>;" with a missing part left empty.
    std::string alarm_id;
    AlarmMappingSettings::AppendAlarmPart(member, "NMAlarmID", this->data_id_, alarm_id);
    AlarmMappingSettings::AppendAlarmPart(member, "ID", this->data_id_, alarm_id);
    AlarmMappingSettings::AppendAlarmPart(member, "SignalNumber", this->data_id_, alarm_id);

    std::cout << "mobile:" << key << ":" << alarm_id << " level:" << this->threshold_levels_[key]
              << " value:" << this->threshold_values_[key] << std::endl;
    alarm_ids_[key] = alarm_id;
}
