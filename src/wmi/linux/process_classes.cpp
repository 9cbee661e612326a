#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterProcessClasses(Registry&) {}

}  // namespace wmi::lnx
