// The remote back-ends (SSH and WS-Management) as a module that kestrane-cli
// opens when it first talks to another computer. Their libraries (libssh,
// libcurl, GSS-API, OpenSSL and some thirty more behind them) cost several
// milliseconds to load and relocate at every start, which most runs never
// need. The window and the tests link the back-ends directly.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "wmi/ssh/ssh_client.h"
#include "wmi/wsman/wsman_client.h"

namespace wmi::remote_module {

// Raised when the layout of Api changes, so a stale module is refused.
inline constexpr int kApiVersion = 1;

struct Api {
    int version;
    bool (*sshIsUrl)(const std::string&);
    std::optional<ssh::Target> (*sshParseTarget)(const std::string&, std::string*);
    std::shared_ptr<Provider> (*sshConnect)(const std::string&, const std::string&, const std::string&,
                                            const ssh::Options&);
    void (*sshCloseIdle)();
    void (*sshCloseAll)();
    std::string (*sshKnownHostsPath)();
    bool (*wsmanIsUrl)(const std::string&);
    std::optional<wsman::Endpoint> (*wsmanParseEndpoint)(const std::string&, std::string*);
    wsman::Endpoint (*wsmanBareEndpoint)(const std::string&);
    std::shared_ptr<Provider> (*wsmanConnect)(const wsman::Endpoint&, const std::string&, const std::string&,
                                              const wsman::Options&);
    std::optional<std::string> (*wsmanParseFingerprint)(const std::string&);
    void (*wsmanCloseIdle)();
    void (*wsmanCloseAll)();
};

// The module's one exported symbol.
inline constexpr const char* kEntryName = "kestrane_remote_api";
using EntryFunction = const Api* (*)();

// The module's file name; kestrane-cli looks beside itself and in
// KESTRANE_REMOTE_MODULE_DIR (the installed location).
inline constexpr const char* kModuleFile = "kestrane-remote.so";

}  // namespace wmi::remote_module
