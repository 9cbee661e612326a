// Input devices, system resources (IRQ, DMA, I/O ports, memory ranges),
// sound cards and PCI/USB devices.
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

void RegisterDeviceClasses(Registry&) {}

}  // namespace wmi::lnx
