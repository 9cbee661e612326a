#include "wmi/connection.h"

namespace wmi {

Services GetWMIServices(const kestrane::AppState& state, const Backends& backends) {
    Locator locator(backends);
    Services services =
        locator.ConnectServer(state.gstrComputer, "\\root\\cimv2", state.gstrUserName, state.gstrPassword);
    services.Security_().ImpersonationLevel = 3;
    services.Security_().AuthenticationLevel = 6;
    return services;
}

}  // namespace wmi
