#include "wmi/windows/com_provider.h"

#include <wbemidl.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "wmi/schema/schema_table.h"
#include "wmi/services.h"
#include "wmi/windows/com_util.h"
#include "wmi/windows/variant_value.h"

namespace wmi::com {

namespace {

// COM on the calling thread (a thread that already chose an apartment, as
// Qt's window thread does, keeps it), and process-wide security once: WMI
// impersonates the caller, so the default identity is the caller's own.
void InitCom() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) throw HresultError(hr, "SWbemLocator");
    static std::once_flag security;
    std::call_once(security, [] {
        HRESULT s = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        // RPC_E_TOO_LATE: the program set it already, which is its choice.
        if (FAILED(s) && s != RPC_E_TOO_LATE) throw HresultError(s, "SWbemLocator");
    });
}

bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) < lower(y);
    });
}

// The login for DCOM: DOMAIN\user splits into domain and user; user@domain
// stays whole. Cleared when the provider goes.
class AuthIdentity {
public:
    AuthIdentity(const std::string& user, const std::string& password) {
        std::wstring u = Wide(user);
        std::size_t slash = u.find(L'\\');
        if (slash != std::wstring::npos) {
            domain_ = u.substr(0, slash);
            user_ = u.substr(slash + 1);
        } else {
            user_ = u;
        }
        password_ = Wide(password);
        id_.User = reinterpret_cast<USHORT*>(user_.data());
        id_.UserLength = static_cast<ULONG>(user_.size());
        id_.Domain = reinterpret_cast<USHORT*>(domain_.data());
        id_.DomainLength = static_cast<ULONG>(domain_.size());
        id_.Password = reinterpret_cast<USHORT*>(password_.data());
        id_.PasswordLength = static_cast<ULONG>(password_.size());
        id_.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    }
    AuthIdentity(const AuthIdentity&) = delete;
    AuthIdentity& operator=(const AuthIdentity&) = delete;
    ~AuthIdentity() { SecureZeroMemory(password_.data(), password_.size() * sizeof(wchar_t)); }

    COAUTHIDENTITY* get() { return &id_; }

private:
    std::wstring user_, domain_, password_;
    COAUTHIDENTITY id_{};
};

// Packet privacy and impersonation on a proxy, with the explicit login
// where one was given (a remote computer's proxies do not inherit it).
HRESULT SetBlanket(IUnknown* proxy, COAUTHIDENTITY* identity) {
    return CoSetProxyBlanket(proxy, RPC_C_AUTHN_DEFAULT, RPC_C_AUTHZ_DEFAULT, COLE_DEFAULT_PRINCIPAL,
                             RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE, identity, EOAC_NONE);
}

class ComProvider;

class ComCursor : public InstanceCursor {
public:
    ComCursor(std::shared_ptr<ComProvider> owner, ComPtr<IEnumWbemClassObject> e)
        : owner_(std::move(owner)), enum_(std::move(e)) {}
    std::optional<Object> next() override;

private:
    std::shared_ptr<ComProvider> owner_;
    ComPtr<IEnumWbemClassObject> enum_;
};

class ComProvider : public Provider, public std::enable_shared_from_this<ComProvider> {
public:
    ComProvider(const std::string& server, const std::string& user, const std::string& password) {
        InitCom();
        const bool local = server.empty() || server == ".";
        ComPtr<IWbemLocator> locator;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      reinterpret_cast<void**>(locator.put()));
        if (FAILED(hr)) throw HresultError(hr, "SWbemLocator");
        Bstr ns(local ? std::wstring(L"root\\cimv2") : L"\\\\" + Wide(server) + L"\\root\\cimv2");
        Bstr userB, passwordB;
        if (!local && !user.empty()) {
            identity_ = std::make_unique<AuthIdentity>(user, password);
            userB = Bstr(Wide(user));
            std::wstring pw = Wide(password);
            passwordB = Bstr(pw);
            SecureZeroMemory(pw.data(), pw.size() * sizeof(wchar_t));
        }
        hr = locator->ConnectServer(ns.get(), userB.get(), passwordB.get(), nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                    nullptr, nullptr, services_.put());
        passwordB.wipe();
        if (FAILED(hr)) throw HresultError(hr, "SWbemLocator");
        hr = SetBlanket(services_.get(), identity_ ? identity_->get() : nullptr);
        if (FAILED(hr)) throw HresultError(hr, "SWbemLocator");
    }

    std::unique_ptr<InstanceCursor> enumerate(std::string_view className) override {
        return query("SELECT * FROM " + std::string(className));
    }

    std::unique_ptr<InstanceCursor> query(const std::string& wql) {
        ComPtr<IEnumWbemClassObject> e;
        Bstr language(L"WQL"), text(Wide(wql));
        HRESULT hr = services_->ExecQuery(language.get(), text.get(),
                                          WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, e.put());
        if (FAILED(hr)) throw HresultError(hr, "SWbemServicesEx");
        if (identity_) {
            hr = SetBlanket(e.get(), identity_->get());
            if (FAILED(hr)) throw HresultError(hr, "SWbemServicesEx");
        }
        return std::make_unique<ComCursor>(shared_from_this(), std::move(e));
    }

    Object convert(IWbemClassObject* obj) {
        VARIANT cls;
        VariantInit(&cls);
        HRESULT hr = obj->Get(L"__CLASS", 0, &cls, nullptr, nullptr);
        if (FAILED(hr)) throw HresultError(hr, "SWbemObjectSet");
        std::string className = V_VT(&cls) == VT_BSTR ? Narrow(V_BSTR(&cls)) : std::string();
        VariantClear(&cls);
        // A query of a base class also gives its subclasses' instances, each
        // with its own class's properties.
        SchemaPtr& schema = schemas_[className];
        if (!schema) schema = readSchema(obj, className);
        std::vector<Value> values;
        values.reserve(schema->size());
        for (const PropertyDecl& p : schema->properties()) {
            VARIANT v;
            VariantInit(&v);
            hr = obj->Get(Wide(p.name).c_str(), 0, &v, nullptr, nullptr);
            values.push_back(SUCCEEDED(hr) ? VariantToValue(v, p.cimType) : Value());
            VariantClear(&v);
        }
        return Object(schema, std::move(values));
    }

private:
    // The class's properties in the object model's order (alphabetical,
    // letter case aside), leaving out WMI's system properties (__PATH...).
    // Properties the published class declares but this computer's WMI
    // leaves out (Wine declares only some) are Null, as they are on every
    // other back-end, so that reading one is no error.
    static SchemaPtr readSchema(IWbemClassObject* obj, const std::string& className) {
        SchemaPtr published = LookupSchema(className);
        SAFEARRAY* names = nullptr;
        HRESULT hr = obj->GetNames(nullptr, WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &names);
        if (FAILED(hr)) throw HresultError(hr, "SWbemObjectSet");
        std::vector<PropertyDecl> props;
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(names, 1, &lo);
        SafeArrayGetUBound(names, 1, &hi);
        for (LONG k = lo; k <= hi; ++k) {
            Bstr name;
            if (FAILED(SafeArrayGetElement(names, &k, name.put()))) continue;
            CIMTYPE type = CIM_EMPTY;
            VARIANT v;
            VariantInit(&v);
            if (FAILED(obj->Get(name.get(), 0, &v, &type, nullptr))) continue;
            VariantClear(&v);
            PropertyDecl d;
            d.name = Narrow(name.get());
            d.isArray = (type & CIM_FLAG_ARRAY) != 0;
            d.cimType = static_cast<int>(type & ~CIM_FLAG_ARRAY);
            // Where WMI cannot say (E_NOTIMPL), the published declaring class
            // is taken, else the class itself.
            Bstr origin;
            if (SUCCEEDED(obj->GetPropertyOrigin(name.get(), origin.put())) && origin.get()) {
                d.origin = Narrow(origin.get());
            } else {
                int i = published ? published->indexOf(d.name) : -1;
                d.origin = i >= 0 ? published->properties()[static_cast<std::size_t>(i)].origin : className;
            }
            props.push_back(std::move(d));
        }
        SafeArrayDestroy(names);
        if (published) {
            ClassSchema delivered(className, props);
            for (const PropertyDecl& p : published->properties())
                if (delivered.indexOf(p.name) < 0) props.push_back(p);
        }
        std::stable_sort(props.begin(), props.end(),
                         [](const PropertyDecl& a, const PropertyDecl& b) { return LessNoCase(a.name, b.name); });
        return std::make_shared<ClassSchema>(className, std::move(props));
    }

    std::unique_ptr<AuthIdentity> identity_;
    ComPtr<IWbemServices> services_;
    std::map<std::string, SchemaPtr> schemas_;
};

std::optional<Object> ComCursor::next() {
    if (!enum_) return std::nullopt;
    ComPtr<IWbemClassObject> obj;
    ULONG got = 0;
    HRESULT hr = enum_->Next(WBEM_INFINITE, 1, obj.put(), &got);
    if (FAILED(hr)) {
        enum_.reset();
        throw HresultError(hr, "SWbemObjectSet");
    }
    if (got == 0 || !obj) {
        enum_.reset();
        return std::nullopt;
    }
    return owner_->convert(obj.get());
}

}  // namespace

std::shared_ptr<Provider> Connect(const std::string& server, const std::string& user, const std::string& password) {
    return std::make_shared<ComProvider>(server, user, password);
}

std::unique_ptr<InstanceCursor> ExecQuery(Provider& provider, const std::string& wql) {
    auto* com = dynamic_cast<ComProvider*>(&provider);
    if (!com) throw MakeError(WBEM_E_INVALID_PARAMETER, "SWbemServicesEx");
    return com->query(wql);
}

}  // namespace wmi::com
