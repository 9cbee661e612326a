#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterEventLogClasses(Registry&) {}

}  // namespace wmi::lnx
