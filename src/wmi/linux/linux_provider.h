// The local Linux provider: answers root\cimv2 classes from the kernel's and
// the system's own interfaces under a root directory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "wmi/linux/file_system.h"
#include "wmi/provider.h"

namespace wmi::lnx {

// A provider reading through any file tree (a fixture, a remote computer).
std::shared_ptr<wmi::Provider> MakeLinuxProvider(std::shared_ptr<FileSystem> fs);

// The classes this provider answers; every other class fails with
// 0x80041010 at its first enumeration.
std::vector<std::string> LinuxProviderClasses();

// Whether this build reads the systemd journal (libsystemd was found); without
// it the event log classes read the classic text logs only.
bool JournalReaderBuiltIn();

}  // namespace wmi::lnx

namespace wmi {

// The provider for the tree under root ("/" is this computer). Host facts
// that do not come from files (file-system capacity, the clock, network
// addresses) are only read when root is "/"; under any other root they are
// Null.
std::shared_ptr<Provider> MakeLinuxProvider(std::string root = "/");

}  // namespace wmi
