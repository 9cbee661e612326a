// Connecting to the computer the connection strings name.
#pragma once

#include "core/app_state.h"
#include "wmi/services.h"

namespace wmi {

// Connects afresh to root\cimv2 on the state's computer with its login, with
// impersonation level 3 and authentication level 6. Every failure reaches
// the caller unchanged; nothing half-made is returned.
Services GetWMIServices(const kestrane::AppState& state, const Backends& backends);

}  // namespace wmi
