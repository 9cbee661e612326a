#pragma once

#include <string>

namespace kestrane {

constexpr int kVersionMajor = KESTRANE_VERSION_MAJOR;
constexpr int kVersionMinor = KESTRANE_VERSION_MINOR;
constexpr int kVersionRevision = KESTRANE_VERSION_REVISION;

// "Version 1.0 Build:1": one blank before "Build:" in the status bar...
std::string StatusBarVersionText();
// ...and two in the About box.
std::string AboutVersionText();

}  // namespace kestrane
