// The module side: hands kestrane-cli the remote back-ends' entry points.

#include "wmi/remote_module/api.h"

namespace {

const wmi::remote_module::Api kApi{
    wmi::remote_module::kApiVersion,
    &wmi::ssh::IsSshUrl,
    &wmi::ssh::ParseTarget,
    &wmi::ssh::Connect,
    &wmi::ssh::CloseIdleSessions,
    &wmi::ssh::CloseAllSessions,
    &wmi::ssh::KnownHostsPath,
    &wmi::wsman::IsWsmanUrl,
    &wmi::wsman::ParseEndpoint,
    &wmi::wsman::BareEndpoint,
    &wmi::wsman::Connect,
    &wmi::wsman::ParseFingerprint,
    &wmi::wsman::CloseIdleSessions,
    &wmi::wsman::CloseAllSessions,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const wmi::remote_module::Api* kestrane_remote_api() {
    return &kApi;
}
