// Network adapters from /sys/class/net.
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

void RegisterNetworkClasses(Registry&) {}

}  // namespace wmi::lnx
