#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterPerfClasses(Registry&) {}

}  // namespace wmi::lnx
