#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

void RegisterAccountClasses(Registry&) {}

}  // namespace wmi::lnx
