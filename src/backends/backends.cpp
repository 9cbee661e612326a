#include "backends/backends.h"

#include "wmi/linux/linux_provider.h"

namespace kestrane {

wmi::Backends DefaultBackends(const std::string& root) {
    wmi::Backends b;
    b.local = [root] { return wmi::MakeLinuxProvider(root); };
    return b;
}

}  // namespace kestrane
