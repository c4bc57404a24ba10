// What the plug-in assumes of the controller framework's headers, stated so
// that the compiler checks it. On the controller qvt7702.so is compiled
// against the vendor's headers and loaded into the vendor's host; a member of
// another type or size, or an operation with another signature, would there
// be a load failure or silent memory corruption. Here it fails the build with
// a sentence naming the member and what the plug-in needs.
//
// It adds no code or data; it is compiled into every build of qvt7702.so.
// Members are checked as public, as the framework declares them.
#include "Provider.h"
#include "SMDSPDevice.h"
#include "SMDSPDeviceProvider.h"
#include "SMDVDevice.h"
#include "SPModbus.h"
#include "TTime.h"
#include "VDeviceInterface.h"
#include "rule_value.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/value.h>

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace framework_contract {

template <class...>
struct MakeVoid {
    typedef void type;
};

// Stands for the result of an operation whose result the plug-in ignores:
// only its parameters are checked.
struct AnyResult {};

template <class Expected, class Actual>
struct ResultMatches : std::is_same<Expected, Actual> {};
template <class Actual>
struct ResultMatches<AnyResult, Actual> : std::true_type {};

// Picks, from the member functions of one name, the one taking exactly
// Params... (no conversions), and accepts it when its result is Expected.
template <class Signature>
struct Matcher;
template <class Expected, class... Params>
struct Matcher<Expected(Params...)> {
    template <class Result, class Owner>
    static typename std::enable_if<ResultMatches<Expected, Result>::value, std::true_type>::type
    Match(Result (Owner::*)(Params...));
};

// QVT7702_OPERATION_CHECK(Name, op): Name<Class, Result(Params...)>::value is true
// when Class has a non-static, non-const member function `op` with exactly
// these parameters and that result; false when it has none, or only other
// overloads.
#define QVT7702_OPERATION_CHECK(Name, op)                                                      \
    template <class Class, class Signature, class = void>                                    \
    struct Name : std::false_type {};                                                        \
    template <class Class, class Signature>                                                  \
    struct Name<Class, Signature,                                                            \
                typename MakeVoid<decltype(Matcher<Signature>::Match(&Class::op))>::type>    \
        : std::true_type {}

QVT7702_OPERATION_CHECK(HasSendSP, SendSP);
QVT7702_OPERATION_CHECK(HasSaveDeviceHistory, SaveDeviceHistory);
QVT7702_OPERATION_CHECK(HasCheckAOReport, CheckAOReport);
QVT7702_OPERATION_CHECK(HasCheckThreshold, CheckThreshold);
QVT7702_OPERATION_CHECK(HasDoBatchCheckThreshold, DoBatchCheckThreshold);
QVT7702_OPERATION_CHECK(HasInitSetting, InitSetting);
QVT7702_OPERATION_CHECK(HasModbusReadInputRegisters, modbus_read_input_registers);
QVT7702_OPERATION_CHECK(HasRefreshStatus, RefreshStatus);

#undef QVT7702_OPERATION_CHECK

template <class Member>
struct IsUnsigned8 {
    static const bool value = std::is_integral<Member>::value && std::is_unsigned<Member>::value &&
                              sizeof(Member) == 1;
};

// ---- VDeviceInterface: the device as the host drives it ----

static_assert(std::is_integral<decltype(VDeviceInterface::data_id_)>::value &&
                  std::is_unsigned<decltype(VDeviceInterface::data_id_)>::value &&
                  sizeof(VDeviceInterface::data_id_) == 4,
              "VDeviceInterface::data_id_ must be an unsigned 32-bit integer: the plug-in copies "
              "it into the record's 4-byte data_id field");
static_assert(std::is_same<decltype(VDeviceInterface::device_type_), std::string>::value,
              "VDeviceInterface::device_type_ must be a std::string: the meter sets it to "
              "\"qvt7702\"");
static_assert(std::has_virtual_destructor<VDeviceInterface>::value,
              "VDeviceInterface needs a virtual destructor: the host deletes meters through it");

// ---- SMDVDevice: publishing, checks and history ----

static_assert(std::is_base_of<VDeviceInterface, SMDVDevice>::value,
              "SMDVDevice must derive from VDeviceInterface");
static_assert(std::is_same<decltype(SMDVDevice::last_update_), boost::posix_time::ptime>::value,
              "SMDVDevice::last_update_ must be a boost::posix_time::ptime: the plug-in stores "
              "the local time of each round there and ages queries by it");
static_assert(std::is_same<decltype(SMDVDevice::data_ready_), bool>::value,
              "SMDVDevice::data_ready_ must be a bool: the plug-in sets it when a round completes");
static_assert(std::is_integral<decltype(SMDVDevice::comm_state_)>::value &&
                  sizeof(SMDVDevice::comm_state_) == 2,
              "SMDVDevice::comm_state_ must be a 16-bit integer: the plug-in sets it to 1 "
              "after each round");
static_assert(std::is_same<decltype(SMDVDevice::report_needed_), bool>::value,
              "SMDVDevice::report_needed_ must be a bool: the plug-in ORs the check results "
              "into it");
static_assert(std::is_same<decltype(SMDVDevice::rule_values_), std::vector<rule_value> >::value,
              "SMDVDevice::rule_values_ must be a std::vector<rule_value>: the plug-in hands it "
              "to DoBatchCheckThreshold and clears it");
static_assert(std::is_same<decltype(SMDVDevice::ao_signals_)::value_type, std::string>::value,
              "SMDVDevice::ao_signals_ must hold std::string signal keys: the plug-in checks "
              "each listed signal");
static_assert(std::is_same<decltype(SMDVDevice::ao_values_)::key_type, std::string>::value &&
                  std::is_same<decltype(SMDVDevice::ao_values_)::mapped_type, float>::value,
              "SMDVDevice::ao_values_ must map std::string signal keys to float: the plug-in "
              "passes the value to CheckAOReport and CheckThreshold");
static_assert(std::is_same<decltype(SMDVDevice::threshold_levels_)::key_type, std::string>::value &&
                  std::is_same<decltype(SMDVDevice::threshold_levels_)::mapped_type, int>::value,
              "SMDVDevice::threshold_levels_ must map std::string signal keys to int: the "
              "alarm-mapping trace prints the level of each configured signal");
static_assert(std::is_same<decltype(SMDVDevice::threshold_values_)::key_type, std::string>::value &&
                  std::is_same<decltype(SMDVDevice::threshold_values_)::mapped_type, float>::value,
              "SMDVDevice::threshold_values_ must map std::string signal keys to float: the "
              "alarm-mapping trace prints the value of each configured signal");

static_assert(HasSendSP<SMDVDevice, AnyResult(int, const unsigned char*, unsigned int, bool)>::value,
              "SMDVDevice::SendSP must take (int data_id, const unsigned char* data, unsigned int "
              "len, bool): the plug-in publishes each record with it");
static_assert(HasSaveDeviceHistory<SMDVDevice,
                                   AnyResult(const unsigned char*, unsigned int)>::value,
              "SMDVDevice::SaveDeviceHistory must take (const unsigned char* data, unsigned int "
              "len): the plug-in stores each record as history with it");
static_assert(HasCheckAOReport<SMDVDevice, bool(const std::string&, float)>::value,
              "SMDVDevice::CheckAOReport must take (const std::string& key, float value) and "
              "return bool: the plug-in ORs the result into report_needed_");
static_assert(HasCheckThreshold<SMDVDevice, AnyResult(const std::string&, const std::string&,
                                                      const float&, int)>::value,
              "SMDVDevice::CheckThreshold must take (const std::string& key, const std::string&, "
              "const float& value, int): the plug-in checks each signal's threshold with it");
static_assert(HasDoBatchCheckThreshold<SMDVDevice, bool(const std::vector<rule_value>&)>::value,
              "SMDVDevice::DoBatchCheckThreshold must take (const std::vector<rule_value>&) and "
              "return bool: the plug-in ORs the result into report_needed_");

// ---- SMDSPDevice: the serial line ----

static_assert(std::is_base_of<SMDVDevice, SMDSPDevice>::value,
              "SMDSPDevice must derive from SMDVDevice");
static_assert(std::is_same<decltype(SMDSPDevice::rx_buffer_), unsigned char[4096]>::value,
              "SMDSPDevice::rx_buffer_ must be unsigned char[4096]: the plug-in gathers the "
              "meter's answer there and drops a chunk that would take it past 4096 bytes");
static_assert(std::is_same<decltype(SMDSPDevice::rx_length_), int>::value,
              "SMDSPDevice::rx_length_ must be an int: the plug-in keeps the number of bytes "
              "held in rx_buffer_ there and relies on Reset() setting it to 0");
static_assert(std::is_same<decltype(SMDSPDevice::request_pending_), int>::value,
              "SMDSPDevice::request_pending_ must be an int: the plug-in sets it to 1 at each "
              "poll");
static_assert(std::is_same<decltype(SMDSPDevice::baud_rate_), int>::value &&
                  std::is_same<decltype(SMDSPDevice::serial_param_), int>::value &&
                  std::is_same<decltype(SMDSPDevice::device_param_), int>::value,
              "SMDSPDevice::baud_rate_, serial_param_ and device_param_ must be int: the meter "
              "sets them to 9600, 3 and 600");
static_assert(HasRefreshStatus<SMDSPDevice, int()>::value,
              "SMDSPDevice::RefreshStatus must take no arguments and return int: the meter "
              "replaces it and calls it first at each poll");

// ---- SPModbus: the Modbus device the meter is ----

static_assert(std::is_base_of<SMDSPDevice, SPModbus>::value,
              "SPModbus must derive from SMDSPDevice");
static_assert(IsUnsigned8<decltype(SPModbus::station_address_)>::value,
              "SPModbus::station_address_ must be an unsigned 8-bit integer: the meter sets "
              "station address 1 there");
static_assert(HasInitSetting<SPModbus, int(const Json::Value&)>::value,
              "SPModbus::InitSetting must take (const Json::Value&) and return int: the plug-in "
              "passes the settings on to it and returns its result");
static_assert(HasModbusReadInputRegisters<SPModbus, AnyResult(int, int)>::value,
              "SPModbus::modbus_read_input_registers must take (int start, int count): the "
              "meter polls with it");

// ---- get_ttime: the record's time stamp ----

static_assert(std::is_same<decltype(get_ttime(std::declval<boost::posix_time::ptime>())),
                           TTime>::value &&
                  sizeof(TTime) == 7,
              "get_ttime(boost::posix_time::ptime) must return the 7-byte TTime: the plug-in "
              "writes it into the record's 7-byte time_stamp field");
static_assert(std::is_same<decltype(&get_ttime), TTime (*)(boost::posix_time::ptime)>::value,
              "get_ttime must take the boost::posix_time::ptime by value: the plug-in calls the "
              "host's get_ttime(boost::posix_time::ptime)");

// ---- Providers ----

static_assert(std::has_virtual_destructor<Provider>::value,
              "Provider needs a virtual destructor: the host destroys providers through it");
static_assert(std::is_base_of<Provider, SMDSPDeviceProvider>::value,
              "SMDSPDeviceProvider must derive from Provider: get_providers hands the meter's "
              "provider over as a std::shared_ptr<Provider>");

// ---- Virtual operations ----
// The host calls the meter through its virtual table. Each declaration below
// compiles only when the framework declares that operation virtual with this
// very signature; an error "marked 'override', but does not override" names
// the one that differs. (Their order, also part of the binary interface, is
// pinned at run time by the virtual table order test.)
class VirtualOperations : public SPModbus {
public:
    ~VirtualOperations() override;
    float Get_Value(unsigned int index, const std::string& key) const override;
    int LoadFromCache(const std::string& blob) override;
    int LoadFromCache(const unsigned char* data, int len) override;
    std::uint32_t DataId() const override;
    const std::string& DeviceType() const override;
    int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_len,
                        int& returned) override;
    void RoundDone() override;
    bool UseControllerDb() override;
    void Reset() override;
    int InitV(SMDVDevice* parent, unsigned int index, const Json::Value& config) override;
    int Init(std::weak_ptr<SMDController> controller, unsigned int data_id,
             const Json::Value& config) override;
    int InitSetting(const Json::Value& settings) override;
    bool IsSupportDevice(const std::string& device_type) const override;
    std::shared_ptr<SMDVDevice> GetChildVDevice(unsigned int index) override;
    std::vector<std::shared_ptr<SMDVDevice> > GetAllChildVDevices() override;
    int SendSP(int data_id, const unsigned char* data, unsigned int len, bool urgent) override;
    int SendDelayData(int data_id) override;
    int SendDoData(int channel, char value) override;
    int ReadDi(int channel) override;
    float ReadAi(int channel) override;
    float Get_SP_Value(unsigned int index, const std::string& key) override;
    int RefreshStatus() override;
    int process(unsigned char* data, unsigned int len) override;
    bool IsProcessing() override;
    bool IsStalled() override;
    int SendData(const unsigned char* data, unsigned int len) override;
    int SendParityData(const unsigned char* data, unsigned int len, EnumParity parity) override;
    int OpenPort() override;
    int ClosePort() override;
    int process_payload(tab_type table, unsigned int count) override;
    int on_error() override;
};

class ProviderOperations : public SMDSPDeviceProvider {
public:
    ~ProviderOperations() override;
    SMDSPDevice* create() const override;
};

}  // namespace framework_contract
