// The remote back-ends (SSH and WS-Management) as a module that kestrane-cli
// opens when it first talks to another computer. Their libraries (libssh,
// libcurl, GSS-API, OpenSSL and some thirty more behind them) cost several
// milliseconds to load and relocate at every start, which most runs never
// need. The window and the tests link the back-ends directly.
//
// kestrane-cli carries its own C++ runtime (linked statically, which halves
// its start-up) while the module uses the shared one, so nothing thrown may
// cross between them: an exception thrown by one runtime and caught by the
// other leaves the catcher's count of exceptions in flight wrong. Every call
// into the module therefore catches what is thrown and describes it as a
// Failure, which kestrane-cli throws again as its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wmi/ssh/ssh_client.h"
#include "wmi/wsman/wsman_client.h"

namespace wmi::remote_module {

// Raised when the layout of Api changes, so a stale module is refused.
inline constexpr int kApiVersion = 2;

struct Failure {
    enum Kind { None, Wmi, Other } kind = None;
    std::uint32_t number = 0;  // for Wmi
    std::string source;        // for Wmi
    std::string description;
};

class RemoteCursor {
public:
    virtual ~RemoteCursor() = default;
    // Fills out with the next instance, or leaves it empty at the end.
    virtual void next(std::optional<Object>& out, Failure& f) noexcept = 0;
};

class RemoteProvider {
public:
    virtual ~RemoteProvider() = default;
    // properties is null for every property.
    virtual std::unique_ptr<RemoteCursor> enumerate(std::string_view className,
                                                    const std::vector<std::string>* properties,
                                                    Failure& f) noexcept = 0;
    virtual void prefetch(const std::vector<std::string>& classNames, Failure& f) noexcept = 0;
    virtual std::string computerName(Failure& f) const noexcept = 0;
    virtual std::vector<std::string> reasons(std::string_view className, Failure& f) noexcept = 0;
};

struct Api {
    int version;
    bool (*sshIsUrl)(const std::string&, Failure&) noexcept;
    std::optional<ssh::Target> (*sshParseTarget)(const std::string&, std::string*, Failure&) noexcept;
    std::shared_ptr<RemoteProvider> (*sshConnect)(const std::string&, const std::string&, const std::string&,
                                                  const ssh::Options&, Failure&) noexcept;
    void (*sshCloseIdle)() noexcept;
    void (*sshCloseAll)() noexcept;
    std::string (*sshKnownHostsPath)(Failure&) noexcept;
    bool (*wsmanIsUrl)(const std::string&, Failure&) noexcept;
    std::optional<wsman::Endpoint> (*wsmanParseEndpoint)(const std::string&, std::string*, Failure&) noexcept;
    wsman::Endpoint (*wsmanBareEndpoint)(const std::string&, Failure&) noexcept;
    std::shared_ptr<RemoteProvider> (*wsmanConnect)(const wsman::Endpoint&, const std::string&, const std::string&,
                                                    const wsman::Options&, Failure&) noexcept;
    std::optional<std::string> (*wsmanParseFingerprint)(const std::string&, Failure&) noexcept;
    void (*wsmanCloseIdle)() noexcept;
    void (*wsmanCloseAll)() noexcept;
};

// The module's one exported symbol.
inline constexpr const char* kEntryName = "kestrane_remote_api";
using EntryFunction = const Api* (*)();

// The module's file name; kestrane-cli looks beside itself and in
// KESTRANE_REMOTE_MODULE_DIR (the installed location).
inline constexpr const char* kModuleFile = "kestrane-remote.so";

}  // namespace wmi::remote_module
