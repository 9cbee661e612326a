#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterSoftwareClasses(Registry&) {}

}  // namespace wmi::lnx
