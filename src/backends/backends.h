// Where the program finds the computers it inspects.
#pragma once

#include <memory>
#include <string>

#include "wmi/services.h"
#include "wmi/ssh/ssh_client.h"

namespace kestrane {

// The local computer answered by the Linux provider over the files under
// `root`. A computer named by the path of a snapshot file (".json") is that
// recorded computer; any other name is a Linux computer reached over SSH with
// `ssh` (read at each connection, so a window can set its hooks later).
wmi::Backends DefaultBackends(const std::string& root = "/",
                              std::shared_ptr<const wmi::ssh::Options> ssh = nullptr);

bool NamesSnapshotFile(const std::string& server);

}  // namespace kestrane
