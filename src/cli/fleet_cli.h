// kestrane-cli's commands for many computers: import, computers, report,
// diff and capture into a store.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "wmi/snapshot/snapshot.h"

namespace kestrane::cli {

// Runs a fleet command when `args` hold one (and sets `rc`); false otherwise.
bool RunFleet(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err, int& rc);

// The stored capture NAME[@WHEN] of a store (a file or a PostgreSQL URI).
std::shared_ptr<wmi::SnapshotProvider> OpenStoredComputer(const std::string& store, const std::string& nameAtWhen);

}  // namespace kestrane::cli
