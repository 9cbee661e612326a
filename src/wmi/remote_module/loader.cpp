// The kestrane-cli side: the remote back-ends' functions, forwarded to the
// module, which is opened at the first call that needs it.

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "wmi/error.h"
#include "wmi/remote_module/api.h"

namespace wmi::remote_module {

namespace {

std::string ExecutableDir() {
    std::string buf(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return {};
    buf.resize(static_cast<std::size_t>(n));
    const auto slash = buf.rfind('/');
    return slash == std::string::npos ? std::string() : buf.substr(0, slash);
}

struct Loaded {
    const Api* api = nullptr;
    std::string why;  // what went wrong when api is null
};

std::mutex gMutex;
const Api* gApi = nullptr;

const Loaded& Load() {
    static const Loaded loaded = [] {
        Loaded l;
        std::vector<std::string> candidates;
        if (std::string dir = ExecutableDir(); !dir.empty()) candidates.push_back(dir + "/" + kModuleFile);
#ifdef KESTRANE_REMOTE_MODULE_DIR
        candidates.push_back(std::string(KESTRANE_REMOTE_MODULE_DIR) + "/" + kModuleFile);
#endif
        for (const auto& path : candidates) {
            if (::access(path.c_str(), F_OK) != 0) continue;
            void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!lib) {
                const char* e = ::dlerror();
                l.why = e ? e : path + " cannot be loaded";
                return l;
            }
            auto entry = reinterpret_cast<EntryFunction>(::dlsym(lib, kEntryName));
            const Api* api = entry ? entry() : nullptr;
            if (!api || api->version != kApiVersion) {
                l.why = path + " is not the remote module of this kestrane-cli";
                return l;
            }
            l.api = api;
            return l;
        }
        l.why = std::string(kModuleFile) + " is not installed beside kestrane-cli";
        return l;
    }();
    return loaded;
}

const Api& Need() {
    std::lock_guard lock(gMutex);
    const Loaded& l = Load();
    if (!l.api)
        throw Error(WBEM_E_PROVIDER_LOAD_FAILURE, "SWbemLocator",
                    "The remote computers' back-end cannot be loaded: " + l.why);
    gApi = l.api;
    return *l.api;
}

// Closing sessions needs no module when none was ever opened.
const Api* IfLoaded() {
    std::lock_guard lock(gMutex);
    return gApi;
}

}  // namespace

}  // namespace wmi::remote_module

namespace wmi::ssh {

using remote_module::IfLoaded;
using remote_module::Need;

bool IsSshUrl(const std::string& name) { return Need().sshIsUrl(name); }
std::optional<Target> ParseTarget(const std::string& name, std::string* why) {
    return Need().sshParseTarget(name, why);
}
std::shared_ptr<Provider> Connect(const std::string& name, const std::string& user, const std::string& password,
                                  const Options& options) {
    return Need().sshConnect(name, user, password, options);
}
void CloseIdleSessions() {
    if (auto* api = IfLoaded()) api->sshCloseIdle();
}
void CloseAllSessions() {
    if (auto* api = IfLoaded()) api->sshCloseAll();
}
std::string KnownHostsPath() { return Need().sshKnownHostsPath(); }

}  // namespace wmi::ssh

namespace wmi::wsman {

using remote_module::IfLoaded;
using remote_module::Need;

bool IsWsmanUrl(const std::string& name) { return Need().wsmanIsUrl(name); }
std::optional<Endpoint> ParseEndpoint(const std::string& name, std::string* why) {
    return Need().wsmanParseEndpoint(name, why);
}
Endpoint BareEndpoint(const std::string& host) { return Need().wsmanBareEndpoint(host); }
std::shared_ptr<Provider> Connect(const Endpoint& endpoint, const std::string& user, const std::string& password,
                                  const Options& options) {
    return Need().wsmanConnect(endpoint, user, password, options);
}
std::optional<std::string> ParseFingerprint(const std::string& text) { return Need().wsmanParseFingerprint(text); }
void CloseIdleSessions() {
    if (auto* api = IfLoaded()) api->wsmanCloseIdle();
}
void CloseAllSessions() {
    if (auto* api = IfLoaded()) api->wsmanCloseAll();
}

}  // namespace wmi::wsman
