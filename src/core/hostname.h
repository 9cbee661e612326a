#pragma once

#include <string>

namespace kestrane {

// This computer's host name, whole, or "" when the system gives none.
std::string LocalHostName();

}  // namespace kestrane
