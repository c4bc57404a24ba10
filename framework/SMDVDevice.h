#pragma once

#include "VDeviceInterface.h"
#include "rule_value.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class SMDController;

// A device as the controller sees it: publishes data, keeps history, runs
// report and threshold checks. The framework fills the signal lists and maps
// below from the controller's configuration; drivers read them.
class SMDVDevice : public VDeviceInterface {
public:
    SMDVDevice();
    ~SMDVDevice() override;

    int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_len,
                        int& returned) override;

    // Empty the receive state for the next exchange.
    virtual void Reset() = 0;
    virtual int InitV(SMDVDevice* parent, unsigned int index, const Json::Value& config);
    virtual int Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
                     const Json::Value& config) = 0;
    // Read the device's own settings tree.
    virtual int InitSetting(const Json::Value& settings);
    virtual bool IsSupportDevice(const std::string& device_type) const;
    virtual std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int /*index*/) { return {}; }
    virtual std::vector<std::shared_ptr<SMDVDevice>> GetAllChildVDevices() { return {}; }
    // Publish one record under its data id.
    virtual int SendSP(int data_id, const unsigned char* data, unsigned int len, bool urgent);
    virtual int SendDelayData(int data_id);
    virtual int SendDoData(int channel, char value);
    virtual int ReadDi(int channel);
    virtual float ReadAi(int channel);
    virtual float Get_SP_Value(unsigned int index, const std::string& key);

    // Store one record as device history.
    int SaveDeviceHistory(const unsigned char* data, unsigned int len);
    // True when the value of `key` must be reported this round.
    bool CheckAOReport(const std::string& key, const float value);
    void CheckThreshold(const std::string& key, const std::string& detail, const float& value,
                        int source);
    // Evaluate the rules collected this round; true when a report is needed.
    bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);

    boost::posix_time::ptime last_update_;
    bool data_ready_ = false;
    std::int16_t comm_state_ = 0;
    bool report_needed_ = false;
    std::vector<rule_value> rule_values_;
    std::vector<std::string> ao_signals_;
    std::map<std::string, float> ao_values_;
    std::map<std::string, int> threshold_levels_;
    std::map<std::string, float> threshold_values_;
};
