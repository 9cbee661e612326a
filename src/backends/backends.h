// Where the program finds the computers it inspects.
#pragma once

#include <string>

#include "wmi/services.h"

namespace kestrane {

// The local computer answered by the Linux provider over the files under
// `root`; remote computers are not reachable yet.
wmi::Backends DefaultBackends(const std::string& root = "/");

}  // namespace kestrane
