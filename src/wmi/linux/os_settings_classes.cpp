#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterOsSettingClasses(Registry&) {}

}  // namespace wmi::lnx
