// Where the program finds the computers it inspects.
#pragma once

#include <string>

#include "wmi/services.h"

namespace kestrane {

// The local computer answered by the Linux provider over the files under
// `root`. A computer named by the path of a snapshot file (".json") is that
// recorded computer; other remote computers are not reachable yet.
wmi::Backends DefaultBackends(const std::string& root = "/");

bool NamesSnapshotFile(const std::string& server);

}  // namespace kestrane
