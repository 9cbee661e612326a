// Locator, services and object sets: the scripting interface the listings use.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "wmi/provider.h"

namespace wmi {

constexpr int wbemFlagReturnImmediately = 16;

// The class named by a WQL query of the form "SELECT * FROM <class>" (any
// letter case and spacing); anything else throws 0x80041017.
std::string ParseWqlClass(std::string_view query);

// The result of ExecQuery: enumerated lazily, once, forward.
class ObjectSet {
public:
    ObjectSet(std::shared_ptr<Provider> provider, std::string className);

    // The next instance, or nothing at the end. The first call opens the
    // class, which is where a class the computer lacks fails.
    std::optional<Object> Next();

    class iterator {
    public:
        explicit iterator(ObjectSet* set) : set_(set) { advance(); }
        iterator() = default;
        const Object& operator*() const { return *current_; }
        const Object* operator->() const { return &*current_; }
        iterator& operator++() { advance(); return *this; }
        bool operator!=(const iterator& other) const { return set_ != other.set_; }

    private:
        void advance() {
            current_ = set_->Next();
            if (!current_) set_ = nullptr;
        }
        ObjectSet* set_ = nullptr;
        std::optional<Object> current_;
    };

    // One forward pass; a second pass continues where the first stopped.
    iterator begin() { return iterator(this); }
    iterator end() { return iterator(); }

    const std::string& className() const { return className_; }
    // Before the first Next: the caller reads no property but these (see
    // Provider::enumerate), so the others may be Null.
    void ReadsOnly(std::vector<std::string> properties) { only_ = std::move(properties); }

private:
    std::shared_ptr<Provider> provider_;
    std::string className_;
    std::unique_ptr<InstanceCursor> cursor_;
    std::vector<std::string> only_;
    bool finished_ = false;
};

struct SecuritySettings {
    int ImpersonationLevel = 0;
    int AuthenticationLevel = 0;
};

class Services {
public:
    explicit Services(std::shared_ptr<Provider> provider) : provider_(std::move(provider)) {}

    SecuritySettings& Security_() { return security_; }
    const SecuritySettings& Security_() const { return security_; }

    // Only "WQL" is understood (0x80041018 otherwise); see ParseWqlClass.
    ObjectSet ExecQuery(std::string_view query, std::string_view language = "WQL",
                        int flags = wbemFlagReturnImmediately) const;

    const std::shared_ptr<Provider>& provider() const { return provider_; }

private:
    std::shared_ptr<Provider> provider_;
    SecuritySettings security_;
};

// Where the locator finds a computer's data.
struct Backends {
    // The local computer (server empty, "." or this host's name).
    std::function<std::shared_ptr<Provider>()> local;
    // Any other computer; when unset, remote computers are unreachable
    // (0x800706BA).
    std::function<std::shared_ptr<Provider>(const std::string& server, const std::string& user,
                                            const std::string& password)>
        remote;
};

class Locator {
public:
    explicit Locator(Backends backends) : backends_(std::move(backends)) {}

    // Namespace must name root\cimv2 (0x8004100E otherwise).
    Services ConnectServer(const std::string& server, const std::string& nameSpace,
                           const std::string& user, const std::string& password) const;

private:
    Backends backends_;
};

bool IsLocalComputer(const std::string& server);

}  // namespace wmi
