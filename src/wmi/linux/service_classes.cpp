#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterServiceClasses(Registry&) {}

}  // namespace wmi::lnx
