#include "core/version.h"

namespace kestrane {

namespace {
std::string VersionText(const char* gap) {
    return "Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + gap +
           "Build:" + std::to_string(kVersionRevision);
}
}  // namespace

std::string StatusBarVersionText() { return VersionText(" "); }
std::string AboutVersionText() { return VersionText("  "); }

}  // namespace kestrane
