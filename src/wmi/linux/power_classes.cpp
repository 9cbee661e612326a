// Batteries from /sys/class/power_supply and sensors from /sys/class/hwmon.
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

void RegisterPowerClasses(Registry&) {}

}  // namespace wmi::lnx
