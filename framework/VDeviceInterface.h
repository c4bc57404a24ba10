#pragma once

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

// The interface through which the host drives every device object.
//
// The order in which virtual operations are declared here and in the derived
// framework classes is a binary interface: the host calls through the
// virtual table, so new operations may only ever be appended.
class VDeviceInterface {
public:
    // Current value of one signal, named by its signal key.
    virtual float Get_Value(unsigned int /*index*/, const std::string& /*key*/) const {
        throw std::out_of_range(std::string("数据未就绪"));
    }

    // Re-load a stored record, as a byte string.
    virtual int LoadFromCache(const std::string& blob) {
        if (blob.size() > static_cast<std::size_t>(INT_MAX))
            return 0;
        return LoadFromCache(reinterpret_cast<const unsigned char*>(blob.data()),
                             static_cast<int>(blob.size()));
    }

    // Re-load a stored record: 1 when accepted, 0 when refused.
    virtual int LoadFromCache(const unsigned char* data, int len) = 0;

    virtual std::uint32_t DataId() const { return data_id_; }
    virtual const std::string& DeviceType() const { return device_type_; }

    virtual int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_len,
                                int& returned) = 0;

    // One poll cycle is complete: publish, check and store the device's data.
    virtual void RoundDone() = 0;

    virtual bool UseControllerDb() { return use_controller_db_; }

    virtual ~VDeviceInterface() {}

    std::uint32_t data_id_ = 0;
    std::string device_type_;
    bool use_controller_db_ = false;
};
