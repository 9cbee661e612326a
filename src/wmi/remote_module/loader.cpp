// The kestrane-cli side: the remote back-ends' functions, forwarded to the
// module, which is opened at the first call that needs it.

#include <dlfcn.h>
#include <unistd.h>

#include <functional>
#include <mutex>
#include <stdexcept>
#include <type_traits>
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

// What the module caught, thrown again by this program's own runtime.
void Rethrow(const Failure& f) {
    if (f.kind == Failure::Wmi) throw Error(f.number, f.source, f.description);
    if (f.kind == Failure::Other)
        throw std::runtime_error(f.description.empty() ? "the remote computers' back-end failed" : f.description);
}

template <class Call>
auto Checked(Call&& call) {
    Failure f;
    if constexpr (std::is_void_v<decltype(call(f))>) {
        call(f);
        Rethrow(f);
    } else {
        auto r = call(f);
        Rethrow(f);
        return r;
    }
}

class ModuleCursor : public InstanceCursor {
public:
    explicit ModuleCursor(std::unique_ptr<RemoteCursor> c) : c_(std::move(c)) {}
    std::optional<Object> next() override {
        std::optional<Object> out;
        Checked([&](Failure& f) { c_->next(out, f); });
        return out;
    }

private:
    std::unique_ptr<RemoteCursor> c_;
};

class ModuleProvider : public Provider {
public:
    explicit ModuleProvider(std::shared_ptr<RemoteProvider> p) : p_(std::move(p)) {}
    std::unique_ptr<InstanceCursor> enumerate(std::string_view className) override {
        return std::make_unique<ModuleCursor>(Checked([&](Failure& f) { return p_->enumerate(className, nullptr, f); }));
    }
    std::unique_ptr<InstanceCursor> enumerate(std::string_view className,
                                              const std::vector<std::string>& properties) override {
        return std::make_unique<ModuleCursor>(
            Checked([&](Failure& f) { return p_->enumerate(className, &properties, f); }));
    }
    void prefetch(const std::vector<std::string>& classNames) override {
        Checked([&](Failure& f) { p_->prefetch(classNames, f); });
    }
    std::string computerName() const override {
        return Checked([&](Failure& f) { return p_->computerName(f); });
    }
    std::vector<std::string> reasons(std::string_view className) override {
        return Checked([&](Failure& f) { return p_->reasons(className, f); });
    }

private:
    std::shared_ptr<RemoteProvider> p_;
};

std::shared_ptr<Provider> Wrapped(std::shared_ptr<RemoteProvider> p) {
    return p ? std::make_shared<ModuleProvider>(std::move(p)) : nullptr;
}

// The module calls these back; whatever they throw stays on this side and
// counts as the cautious answer.
template <class Choice, class Question>
std::function<Choice(const Question&)> Contained(std::function<Choice(const Question&)> ask, Choice cautious) {
    if (!ask) return ask;
    return [ask = std::move(ask), cautious](const Question& q) {
        try {
            return ask(q);
        } catch (...) {
            return cautious;
        }
    };
}

std::function<void()> Contained(std::function<void()> tick) {
    if (!tick) return tick;
    return [tick = std::move(tick)] {
        try {
            tick();
        } catch (...) {
        }
    };
}

}  // namespace

}  // namespace wmi::remote_module

namespace wmi::ssh {

using remote_module::Checked;
using remote_module::Contained;
using remote_module::Failure;
using remote_module::IfLoaded;
using remote_module::Need;

bool IsSshUrl(const std::string& name) {
    return Checked([&](Failure& f) { return Need().sshIsUrl(name, f); });
}
std::optional<Target> ParseTarget(const std::string& name, std::string* why) {
    return Checked([&](Failure& f) { return Need().sshParseTarget(name, why, f); });
}
std::shared_ptr<Provider> Connect(const std::string& name, const std::string& user, const std::string& password,
                                  const Options& options) {
    Options o = options;
    o.unknownHost = Contained(std::move(o.unknownHost), HostKeyChoice::Refuse);
    o.whileWaiting = Contained(std::move(o.whileWaiting));
    return remote_module::Wrapped(Checked([&](Failure& f) { return Need().sshConnect(name, user, password, o, f); }));
}
void CloseIdleSessions() {
    if (auto* api = IfLoaded()) api->sshCloseIdle();
}
void CloseAllSessions() {
    if (auto* api = IfLoaded()) api->sshCloseAll();
}
std::string KnownHostsPath() {
    return Checked([&](Failure& f) { return Need().sshKnownHostsPath(f); });
}

}  // namespace wmi::ssh

namespace wmi::wsman {

using remote_module::Checked;
using remote_module::Contained;
using remote_module::Failure;
using remote_module::IfLoaded;
using remote_module::Need;

bool IsWsmanUrl(const std::string& name) {
    return Checked([&](Failure& f) { return Need().wsmanIsUrl(name, f); });
}
std::optional<Endpoint> ParseEndpoint(const std::string& name, std::string* why) {
    return Checked([&](Failure& f) { return Need().wsmanParseEndpoint(name, why, f); });
}
Endpoint BareEndpoint(const std::string& host) {
    return Checked([&](Failure& f) { return Need().wsmanBareEndpoint(host, f); });
}
std::shared_ptr<Provider> Connect(const Endpoint& endpoint, const std::string& user, const std::string& password,
                                  const Options& options) {
    Options o = options;
    o.untrustedCertificate = Contained(std::move(o.untrustedCertificate), CertificateChoice::Refuse);
    o.whileWaiting = Contained(std::move(o.whileWaiting));
    return remote_module::Wrapped(
        Checked([&](Failure& f) { return Need().wsmanConnect(endpoint, user, password, o, f); }));
}
std::optional<std::string> ParseFingerprint(const std::string& text) {
    return Checked([&](Failure& f) { return Need().wsmanParseFingerprint(text, f); });
}
void CloseIdleSessions() {
    if (auto* api = IfLoaded()) api->wsmanCloseIdle();
}
void CloseAllSessions() {
    if (auto* api = IfLoaded()) api->wsmanCloseAll();
}

}  // namespace wmi::wsman
