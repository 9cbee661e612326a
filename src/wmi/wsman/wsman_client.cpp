#include "wmi/wsman/wsman_client.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <unordered_map>
#include <vector>

#include "wmi/snapshot/snapshot_detail.h"
#include "wmi/wsman/gss_auth.h"
#include "wmi/wsman/http.h"
#include "wmi/wsman/soap.h"

namespace wmi::wsman {

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kBoundary = "Encrypted Boundary";

std::string Base64(const std::string& in) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::optional<std::string> Unbase64(std::string in) {
    while (!in.empty() && (in.back() == ' ' || in.back() == '\r')) in.pop_back();
    if (in.size() % 4 != 0 || in.size() > 65536) return std::nullopt;
    std::string out(in.size() / 4 * 3 + 1, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
    if (n < 0) return std::nullopt;
    std::size_t pad = (!in.empty() && in.back() == '=') + (in.size() > 1 && in[in.size() - 2] == '=');
    out.resize(static_cast<std::size_t>(n) - pad);
    return out;
}

std::string Where(const Endpoint& e) { return e.url; }

std::string Sha256Raw(const std::string& s) {
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(s.data()), s.size(), md);
    return std::string(reinterpret_cast<char*>(md), sizeof md);
}

Error Unavailable(const Endpoint& e, const std::string& why) {
    return Error(RPC_S_SERVER_UNAVAILABLE, "SWbemLocator",
                 std::string(StandardDescription(RPC_S_SERVER_UNAVAILABLE)) + " WS-Management at " + Where(e) + ": " +
                     why);
}

Error Denied(const std::string& why) {
    return Error(E_ACCESSDENIED_WIN32, "SWbemLocator", std::string(StandardDescription(E_ACCESSDENIED_WIN32)) + " " + why);
}

Error Lost(const Endpoint& e, const std::string& why) {
    return Error(RPC_S_CALL_FAILED, "SWbemObjectSet",
                 std::string(StandardDescription(RPC_S_CALL_FAILED)) + " The connection to " + e.host + " " + why);
}

// The offers of a 401: scheme names, and the token after a scheme if any.
struct Offer {
    std::string scheme;
    std::string token;
};
std::vector<Offer> Offers(const HttpResponse& r) {
    std::vector<Offer> v;
    for (const std::string& h : r.all("www-authenticate")) {
        std::string s = h;
        std::size_t sp = s.find(' ');
        Offer o{ToLowerAscii(s.substr(0, sp)), sp == std::string::npos ? "" : s.substr(sp + 1)};
        o.token.erase(0, o.token.find_first_not_of(' '));
        v.push_back(o);
    }
    return v;
}

bool Offered(const std::vector<Offer>& v, const char* scheme) {
    return std::any_of(v.begin(), v.end(), [&](const Offer& o) { return o.scheme == scheme; });
}

// RFC 5929 tls-server-end-point: the certificate's hash under its signature's
// hash, SHA-256 at least.
std::string ChannelBinding(const std::string& der) {
    if (der.empty()) return {};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    const EVP_MD* md = EVP_sha256();
    if (cert) {
        int nid = 0;
        if (X509_get_signature_info(cert, &nid, nullptr, nullptr, nullptr) && (nid == NID_sha384 || nid == NID_sha512))
            md = nid == NID_sha384 ? EVP_sha384() : EVP_sha512();
        X509_free(cert);
    }
    unsigned char h[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(der.data(), der.size(), h, &n, md, nullptr);
    return "tls-server-end-point:" + std::string(reinterpret_cast<char*>(h), n);
}

}  // namespace

class Session {
public:
    Session(Endpoint e, const std::string& user, const std::string& password, Options o)
        : endpoint_(std::move(e)), user_(user), options_(std::move(o)) {
        passwordKey_ = Sha256Raw(password);
        open(password);
    }

    bool matches(const Endpoint& e, const std::string& user, const std::string& password) const {
        return e.url == endpoint_.url && user == user_ && passwordKey_ == Sha256Raw(password);
    }
    bool broken() const { return broken_; }
    void adopt(const Options& o) {
        options_.whileWaiting = o.whileWaiting;
        options_.idleClose = o.idleClose;
        options_.maxElements = o.maxElements;
    }
    const Options& options() const { return options_; }
    const Endpoint& endpoint() const { return endpoint_; }

    bool inUse = false;
    Clock::time_point lastUsed = Clock::now();

    // Sends an envelope; the answer's SOAP text. A fault becomes the error it
    // stands for.
    std::string call(const std::string& envelope) {
        std::vector<std::string> headers = {"Connection: Keep-Alive"};
        std::string body;
        if (gss_ && encrypt_) {
            GssContext::Sealed sealed;
            try {
                sealed = gss_->seal(envelope);
            } catch (const std::exception& e) {
                broken_ = true;
                throw Denied("The login at " + endpoint_.host + " cannot protect the messages: " + e.what() + ".");
            }
            body = SealedBody(protocol_, envelope.size(), sealed.header, sealed.data);
            headers.push_back("Content-Type: multipart/encrypted;protocol=\"" + protocol_ + "\";boundary=\"" +
                              kBoundary + "\"");
        } else {
            body = envelope;
            headers.push_back("Content-Type: application/soap+xml;charset=UTF-8");
            if (!basic_.empty()) headers.push_back("Authorization: Basic " + basic_);
        }
        auto r = http_->post(headers, body);
        if (!r) {
            broken_ = true;
            if (http_->error().kind == HttpFailure::TooLarge) throw Lost(endpoint_, "sent an answer beyond 16 MB.");
            throw Lost(endpoint_, "was lost: " + http_->error().text + ".");
        }
        if (gss_ && http_->reconnected()) {
            // The login belonged to the connection that closed.
            broken_ = true;
            throw Lost(endpoint_, "was closed by the computer.");
        }
        if (r->status == 401) {
            broken_ = true;
            throw Denied("The computer " + endpoint_.host + " no longer accepts the login.");
        }
        std::string text = r->body;
        if (ToLowerAscii(r->first("content-type")).rfind("multipart/encrypted", 0) == 0) {
            if (!gss_) throw Lost(endpoint_, "sent a sealed answer on a connection without sealing.");
            text = unseal(r->body);
        } else if (encrypt_ && r->status == 200) {
            broken_ = true;
            throw Lost(endpoint_, "sent an answer that is not sealed, on a connection that must be.");
        }
        if (r->status != 200) {
            if (auto e = FaultOf(text)) throw *e;
            throw Error(WBEM_E_FAILED, "SWbemObjectSet",
                        std::string(StandardDescription(WBEM_E_FAILED)) + ": " + endpoint_.host + " answered HTTP " +
                            std::to_string(r->status) + ".");
        }
        return text;
    }

    // The schema of a class, learnt once per session.
    SchemaPtr schemaOf(const std::string& className) {
        const std::string key = ToLowerAscii(className);
        auto it = schemas_.find(key);
        if (it != schemas_.end()) return it->second;
        std::string xml = call(GetClassEnvelope(endpoint_.url, className));
        SchemaPtr s;
        try {
            s = ParseCimXmlClass(xml, className);
        } catch (const SoapError& e) {
            throw Lost(endpoint_, std::string("described class ") + className + " unreadably: " + e.what() + ".");
        }
        schemas_.emplace(key, s);
        return s;
    }

private:
    void open(const std::string& password) {
        HttpOptions ho;
        ho.connectTimeout = options_.connectTimeout;
        ho.silenceTimeout = options_.silenceTimeout;
        ho.whileWaiting = options_.whileWaiting;
        ho.trustedCertificate = options_.trustedCertificate;
        auto t = options_.trustedCertificates.find(endpoint_.host + ":" + std::to_string(endpoint_.port));
        if (t != options_.trustedCertificates.end()) ho.trustedCertificate = t->second;
        http_ = std::make_unique<HttpConnection>(endpoint_.url, ho);

        std::optional<HttpResponse> r = http_->post({"Content-Type: application/soap+xml;charset=UTF-8"}, "");
        if (!r && http_->error().kind == HttpFailure::Untrusted) {
            const std::string fp = CertificateFingerprint(http_->serverCertificate());
            CertificateQuestion q{endpoint_.host, endpoint_.port, fp, http_->error().text};
            CertificateChoice c = options_.untrustedCertificate && !http_->serverCertificate().empty()
                                      ? options_.untrustedCertificate(q)
                                      : CertificateChoice::Refuse;
            if (c == CertificateChoice::Refuse) {
                std::string text = std::string(StandardDescription(CERT_E_UNTRUSTEDROOT)) + " The certificate of " +
                                   endpoint_.host + " (" + http_->error().text + ") has the fingerprint " + fp + ".";
                if (!options_.untrustedAdvice.empty()) text += " " + options_.untrustedAdvice;
                throw Error(CERT_E_UNTRUSTEDROOT, "SWbemLocator", text);
            }
            ho.trustedCertificate = Sha256Raw(http_->serverCertificate());
            http_ = std::make_unique<HttpConnection>(endpoint_.url, ho);
            r = http_->post({"Content-Type: application/soap+xml;charset=UTF-8"}, "");
        }
        if (!r) throw Unavailable(endpoint_, http_->error().text);
        if (r->status == 200) return;  // the computer asks for no login
        if (r->status != 401)
            throw Unavailable(endpoint_, "no WS-Management service answers there (HTTP " + std::to_string(r->status) + ")");
        const auto offers = Offers(*r);
        // GSS-API would only say "An invalid name was supplied".
        if (!password.empty() && user_.empty())
            throw Denied("A password was given without a user name: give the user as well, or leave the password "
                         "empty to log in with a Kerberos ticket.");
        if (!password.empty() && Offered(offers, "negotiate")) {
            negotiate("Negotiate", password);
            return;
        }
        if (password.empty() && (Offered(offers, "kerberos") || Offered(offers, "negotiate"))) {
            negotiate(Offered(offers, "kerberos") ? "Kerberos" : "Negotiate", "");
            return;
        }
        if (endpoint_.https && Offered(offers, "basic") && !password.empty()) {
            basic_ = Base64(user_ + ":" + password);
            // The first real request tells whether Basic was accepted.
            call(GetClassEnvelope(endpoint_.url, "Win32_OperatingSystem"));
            return;
        }
        throw Denied("WS-Management at " + endpoint_.url + " offers no authentication Kestrane can use" +
                     (!endpoint_.https && Offered(offers, "basic")
                          ? " over HTTP (Basic is used only over HTTPS, where the password is protected)."
                          : "."));
    }

    void negotiate(const std::string& scheme, const std::string& password) {
        const std::string cb = endpoint_.https ? ChannelBinding(http_->serverCertificate()) : std::string();
        try {
            gss_ = std::make_unique<GssContext>(user_, password, endpoint_.host, cb);
        } catch (const std::exception& e) {
            throw Denied(std::string("The login cannot be prepared: ") + e.what());
        }
        protocol_ = gss_->kerberos() ? "application/HTTP-Kerberos-session-encrypted"
                                     : "application/HTTP-SPNEGO-session-encrypted";
        std::string serverToken;
        for (int round = 0; round < 6; ++round) {
            std::string token;
            try {
                token = gss_->step(serverToken);
            } catch (const std::exception& e) {
                // A ticket is no help when the realm has no service by this name
                // (typically an address given instead of the computer's name).
                throw Denied(!password.empty()
                                 ? "The login of " + user_ + " at " + endpoint_.host + " failed: " + e.what()
                             : gss_->unknownService()
                                 ? "Kerberos knows no service HTTP/" + endpoint_.host +
                                       " (give the computer's name in its domain, or a password): " + e.what()
                                 : "Without a password Kestrane logs in with Kerberos, and no usable ticket was found "
                                   "for " + endpoint_.host + " (kinit first, or give a password): " + e.what());
            }
            if (token.empty() && gss_->established()) break;
            auto r = http_->post({"Authorization: " + scheme + " " + Base64(token),
                                  "Content-Type: application/soap+xml;charset=UTF-8"},
                                 "");
            if (!r) throw Unavailable(endpoint_, http_->error().text);
            std::string next;
            for (const auto& o : Offers(*r))
                if (ToLowerAscii(scheme) == o.scheme && !o.token.empty()) next = o.token;
            if (r->status == 401 && next.empty())
                throw Denied(password.empty() ? "The computer " + endpoint_.host + " refused the Kerberos ticket."
                                              : "The computer " + endpoint_.host + " refused the login of " + user_ +
                                                    " with this password.");
            if (r->status != 401 && r->status != 200 && r->status != 400 && r->status != 500)
                throw Unavailable(endpoint_, "HTTP " + std::to_string(r->status) + " during the login");
            if (!next.empty()) {
                auto decoded = Unbase64(next);
                if (!decoded) throw Denied("The computer sent an unreadable login token.");
                serverToken = *decoded;
                if (r->status != 401 && gss_->established()) break;
                continue;
            }
            if (gss_->established()) break;
        }
        if (!gss_->established()) throw Denied("The login of " + user_ + " at " + endpoint_.host + " did not complete.");
        // Over HTTP every message is sealed; over HTTPS, TLS protects them.
        encrypt_ = !endpoint_.https;
    }

    std::string unseal(const std::string& body) {
        std::string why;
        auto parts = ParseSealedBody(body, &why);
        std::optional<std::string> plain;
        if (parts) {
            plain = gss_->unseal(parts->header, parts->data);
            why = !plain                           ? "its seal does not verify, or it is signed but not encrypted"
                  : plain->size() != parts->length ? "its length differs from the one announced"
                                                   : "";
        }
        if (!why.empty()) {
            broken_ = true;
            throw Lost(endpoint_, "sent a sealed answer that cannot be opened (" + why + ").");
        }
        return *plain;
    }

    Endpoint endpoint_;
    std::string user_;
    Options options_;
    std::string passwordKey_;
    std::unique_ptr<HttpConnection> http_;
    std::unique_ptr<GssContext> gss_;
    std::string protocol_;
    std::string basic_;
    bool encrypt_ = false;
    bool broken_ = false;
    std::unordered_map<std::string, SchemaPtr> schemas_;
};

namespace {

struct Pool {
    std::mutex mutex;
    std::vector<std::shared_ptr<Session>> sessions;
};

Pool& ThePool() {
    static Pool* pool = new Pool;  // sessions may be let go during exit
    return *pool;
}

void CloseIdleLocked(Pool& pool, bool all) {
    const auto now = Clock::now();
    std::erase_if(pool.sessions, [&](const std::shared_ptr<Session>& s) {
        if (s->inUse) return false;
        return all || s->broken() || now - s->lastUsed >= s->options().idleClose;
    });
}

// Streams a class: Enumerate, then Pull page after page; an enumeration left
// early is released.
class WsCursor : public InstanceCursor {
public:
    WsCursor(std::shared_ptr<Session> s, std::string className) : s_(std::move(s)), class_(std::move(className)) {}
    ~WsCursor() override {
        if (started_ && !end_ && !context_.empty() && !s_->broken()) {
            try {
                s_->call(ReleaseEnvelope(s_->endpoint().url, context_));
            } catch (...) {
                // The enumeration times out on the server anyway.
            }
        }
    }

    std::optional<Object> next() override {
        while (i_ >= page_.size()) {
            if (started_ && end_) return std::nullopt;
            const int max = std::max(1, s_->options().maxElements);
            std::string xml = s_->call(started_ ? PullEnvelope(s_->endpoint().url, context_, max)
                                                : EnumerateEnvelope(s_->endpoint().url, class_, max));
            started_ = true;
            Page page;
            try {
                page = ParsePage(xml, [&](const std::string& cls) { return s_->schemaOf(cls); });
            } catch (const SoapError& e) {
                end_ = true;
                throw Lost(s_->endpoint(), std::string("sent an answer that cannot be read: ") + e.what() + ".");
            }
            page_ = std::move(page.objects);
            i_ = 0;
            context_ = page.context;
            end_ = page.end;
            // Pages without instances that never end the sequence are a
            // server that has stopped answering, however fast it says so.
            if (!page_.empty() || end_) {
                progress_ = Clock::now();
            } else if (Clock::now() - progress_ > s_->options().silenceTimeout) {
                end_ = true;
                throw Lost(s_->endpoint(), "sent no instances for longer than the time-out.");
            }
        }
        return std::move(page_[i_++]);
    }

private:
    std::shared_ptr<Session> s_;
    std::string class_;
    std::vector<Object> page_;
    std::size_t i_ = 0;
    std::string context_;
    bool started_ = false;
    bool end_ = false;
    Clock::time_point progress_ = Clock::now();
};

class WsProvider : public Provider {
public:
    explicit WsProvider(std::shared_ptr<Session> s) : s_(std::move(s)) {}
    ~WsProvider() override {
        std::lock_guard lock(ThePool().mutex);
        s_->inUse = false;
        s_->lastUsed = Clock::now();
    }
    std::unique_ptr<InstanceCursor> enumerate(std::string_view className) override {
        return std::make_unique<WsCursor>(s_, std::string(className));
    }
    // The address names the endpoint, not the computer: ask it once.
    std::string computerName() const override {
        if (!name_) {
            name_.emplace();
            try {
                WsCursor c(s_, "Win32_ComputerSystem");
                if (auto o = c.next(); o && o->Get("Name").isString()) *name_ = o->Get("Name").asString();
            } catch (const Error&) {
                // Unknown: the caller falls back to the address.
            }
        }
        return *name_;
    }

private:
    std::shared_ptr<Session> s_;
    mutable std::optional<std::string> name_;
};

bool HostChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'; }

}  // namespace

bool IsWsmanUrl(const std::string& name) {
    std::string l = ToLowerAscii(name.substr(0, 8));
    return l.rfind("http://", 0) == 0 || l.rfind("https://", 0) == 0;
}

std::optional<Endpoint> ParseEndpoint(const std::string& name, std::string* why) {
    auto fail = [&](const std::string& w) -> std::optional<Endpoint> {
        if (why) *why = w;
        return std::nullopt;
    };
    if (!IsWsmanUrl(name)) return fail("not an http:// or https:// address");
    Endpoint e;
    e.https = ToLowerAscii(name.substr(0, 8)) == "https://";
    e.port = e.https ? 5986 : 5985;
    std::string rest = name.substr(e.https ? 8 : 7);
    std::size_t slash = rest.find('/');
    std::string path = slash == std::string::npos ? "" : rest.substr(slash);
    rest = rest.substr(0, slash);
    if (!path.empty() && path != "/" && ToLowerAscii(path) != "/wsman" && ToLowerAscii(path) != "/wsman/")
        return fail("the path must be /wsman");
    if (rest.find('@') != std::string::npos) return fail("put the user in the User Name box, not in the address");
    std::string portText;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos) return fail("an IPv6 address lacks its closing \"]\"");
        e.host = rest.substr(1, close - 1);
        if (e.host.empty() || e.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return fail("the address in brackets is not an IPv6 address");
        std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return fail("only a port may follow the address");
            portText = after.substr(1);
        }
    } else {
        std::size_t colon = rest.find(':');
        e.host = rest.substr(0, colon);
        if (colon != std::string::npos) portText = rest.substr(colon + 1);
        if (e.host.empty() || e.host.size() > 253 || e.host[0] == '-' ||
            !std::all_of(e.host.begin(), e.host.end(), HostChar))
            return fail("\"" + e.host + "\" is not a computer name or address");
    }
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return fail("the port is not a number from 1 to 65535");
        int p = std::stoi(portText);
        if (p < 1 || p > 65535) return fail("the port is not a number from 1 to 65535");
        e.port = p;
    }
    const std::string h = e.host.find(':') != std::string::npos ? "[" + e.host + "]" : e.host;
    e.url = std::string(e.https ? "https://" : "http://") + h + ":" + std::to_string(e.port) + "/wsman";
    return e;
}

Endpoint BareEndpoint(const std::string& host) {
    Endpoint e;
    e.host = host;
    e.port = 5985;
    const std::string h = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    e.url = "http://" + h + ":5985/wsman";
    return e;
}

std::shared_ptr<Provider> Connect(const Endpoint& endpoint, const std::string& user, const std::string& password,
                                  const Options& options) {
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        CloseIdleLocked(pool, false);
        for (auto& s : pool.sessions)
            if (!s->inUse && s->matches(endpoint, user, password)) {
                s->inUse = true;
                s->adopt(options);
                return std::make_shared<WsProvider>(s);
            }
    }
    auto s = std::make_shared<Session>(endpoint, user, password, options);
    s->inUse = true;
    std::lock_guard lock(pool.mutex);
    pool.sessions.push_back(s);
    return std::make_shared<WsProvider>(s);
}

void CloseIdleSessions() {
    std::lock_guard lock(ThePool().mutex);
    CloseIdleLocked(ThePool(), false);
}

void CloseAllSessions() {
    std::lock_guard lock(ThePool().mutex);
    CloseIdleLocked(ThePool(), true);
}

}  // namespace wmi::wsman
