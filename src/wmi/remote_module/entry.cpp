// The module side: hands kestrane-cli the remote back-ends' entry points,
// with every failure caught here and described instead of thrown.

#include <exception>
#include <type_traits>

#include "wmi/remote_module/api.h"

namespace wmi::remote_module {

namespace {

// Runs body; what it throws becomes f, and a default value is returned.
template <class Body>
auto Guard(Failure& f, Body&& body) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const Error& e) {
        try {
            f.kind = Failure::Wmi, f.number = e.unsignedNumber(), f.source = e.source(), f.description = e.description();
        } catch (...) {
            f.kind = Failure::Other;
        }
    } catch (const std::exception& e) {
        f.kind = Failure::Other;
        try {
            f.description = e.what();
        } catch (...) {
        }
    } catch (...) {
        f.kind = Failure::Other;
    }
    if constexpr (!std::is_void_v<decltype(body())>) return {};
}

class GuardedCursor : public RemoteCursor {
public:
    explicit GuardedCursor(std::unique_ptr<InstanceCursor> c) : c_(std::move(c)) {}
    void next(std::optional<Object>& out, Failure& f) noexcept override {
        Guard(f, [&] { out = c_->next(); });
    }

private:
    std::unique_ptr<InstanceCursor> c_;
};

class GuardedProvider : public RemoteProvider {
public:
    explicit GuardedProvider(std::shared_ptr<Provider> p) : p_(std::move(p)) {}
    std::unique_ptr<RemoteCursor> enumerate(std::string_view className, const std::vector<std::string>* properties,
                                            Failure& f) noexcept override {
        return Guard(f, [&]() -> std::unique_ptr<RemoteCursor> {
            return std::make_unique<GuardedCursor>(properties ? p_->enumerate(className, *properties)
                                                              : p_->enumerate(className));
        });
    }
    void prefetch(const std::vector<std::string>& classNames, Failure& f) noexcept override {
        Guard(f, [&] { p_->prefetch(classNames); });
    }
    std::string computerName(Failure& f) const noexcept override {
        return Guard(f, [&] { return p_->computerName(); });
    }
    std::vector<std::string> reasons(std::string_view className, Failure& f) noexcept override {
        return Guard(f, [&] { return p_->reasons(className); });
    }

private:
    std::shared_ptr<Provider> p_;
};

// Closing sessions has no one to report to.
template <void (*Close)()>
void Quietly() noexcept {
    Failure ignored;
    Guard(ignored, Close);
}

std::shared_ptr<RemoteProvider> Guarded(std::shared_ptr<Provider> p) {
    return std::make_shared<GuardedProvider>(std::move(p));
}

const Api kApi{
    kApiVersion,
    [](const std::string& n, Failure& f) noexcept { return Guard(f, [&] { return ssh::IsSshUrl(n); }); },
    [](const std::string& n, std::string* why, Failure& f) noexcept {
        return Guard(f, [&] { return ssh::ParseTarget(n, why); });
    },
    [](const std::string& n, const std::string& u, const std::string& p, const ssh::Options& o, Failure& f) noexcept {
        return Guard(f, [&] { return Guarded(ssh::Connect(n, u, p, o)); });
    },
    &Quietly<&ssh::CloseIdleSessions>,
    &Quietly<&ssh::CloseAllSessions>,
    [](Failure& f) noexcept { return Guard(f, [] { return ssh::KnownHostsPath(); }); },
    [](const std::string& n, Failure& f) noexcept { return Guard(f, [&] { return wsman::IsWsmanUrl(n); }); },
    [](const std::string& n, std::string* why, Failure& f) noexcept {
        return Guard(f, [&] { return wsman::ParseEndpoint(n, why); });
    },
    [](const std::string& h, Failure& f) noexcept { return Guard(f, [&] { return wsman::BareEndpoint(h); }); },
    [](const wsman::Endpoint& e, const std::string& u, const std::string& p, const wsman::Options& o,
       Failure& f) noexcept { return Guard(f, [&] { return Guarded(wsman::Connect(e, u, p, o)); }); },
    [](const std::string& t, Failure& f) noexcept { return Guard(f, [&] { return wsman::ParseFingerprint(t); }); },
    &Quietly<&wsman::CloseIdleSessions>,
    &Quietly<&wsman::CloseAllSessions>,
};

}  // namespace

}  // namespace wmi::remote_module

extern "C" __attribute__((visibility("default"))) const wmi::remote_module::Api* kestrane_remote_api() {
    return &wmi::remote_module::kApi;
}
