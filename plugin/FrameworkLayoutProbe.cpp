// Not part of qvt7702.so. The build compiles this file with full debug
// information once against the framework headers qvt7702.so is built with
// and, when those are not framework/, once against framework/; then
// scripts/lib/framework-layout reads from each object how the compiler laid
// out every framework class the plug-in derives from or calls through
// (sizes, bases, data members, virtual-table slots) and compares them.
#include "Provider.h"
#include "SMDSPDevice.h"
#include "SMDSPDeviceProvider.h"
#include "SMDVDevice.h"
#include "SPModbus.h"
#include "TTime.h"
#include "VDeviceInterface.h"
#include "rule_value.h"

// One use of each class whose definition the debug information must carry;
// their bases come with them.
SPModbus* framework_layout_device = nullptr;
SMDSPDeviceProvider* framework_layout_provider = nullptr;
rule_value* framework_layout_rule = nullptr;
TTime* framework_layout_time = nullptr;
