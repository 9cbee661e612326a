#include "wmi/wsman/http.h"
#include "wmi/wsman/wsman_client.h"

#include <algorithm>
#include <cctype>
#include <curl/curl.h>
#include <mutex>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace wmi::wsman {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

// What the certificate check met during the handshake on this thread. Not in
// the anonymous namespace: HttpConnection::Impl holds one.
struct TlsSeen {
    std::string leaf;     // DER
    std::string problem;  // OpenSSL's words for the first fault in the chain
    std::string trusted;  // SHA-256 the user trusts, or ""
};

namespace {

thread_local TlsSeen* tlsSeen = nullptr;

std::string Der(X509* cert) {
    int n = i2d_X509(cert, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    auto* p = reinterpret_cast<unsigned char*>(out.data());
    i2d_X509(cert, &p);
    return out;
}

std::string Sha256(const std::string& s) {
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(s.data()), s.size(), md);
    return std::string(reinterpret_cast<char*>(md), sizeof md);
}

// OpenSSL checks the chain; this keeps the leaf for messages and lets a
// certificate the user trusts by fingerprint through, and nothing else.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
    if (!tlsSeen) return ok;
    if (!ok && tlsSeen->problem.empty())
        tlsSeen->problem = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    if (X509* leaf = X509_STORE_CTX_get0_cert(store)) {
        tlsSeen->leaf = Der(leaf);
        if (!tlsSeen->trusted.empty() && Sha256(tlsSeen->leaf) == tlsSeen->trusted) {
            X509_STORE_CTX_set_error(store, X509_V_OK);
            return 1;
        }
    }
    return ok;
}

CURLcode SslContext(CURL*, void* sslctx, void*) {
    SSL_CTX_set_verify(static_cast<SSL_CTX*>(sslctx), SSL_VERIFY_PEER, VerifyCallback);
    return CURLE_OK;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t n, void* user);
std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* user);

}  // namespace

std::vector<std::string> HttpResponse::all(const std::string& name) const {
    std::vector<std::string> v;
    auto [a, b] = headers.equal_range(name);
    for (auto it = a; it != b; ++it) v.push_back(it->second);
    return v;
}

std::string HttpResponse::first(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

struct HttpConnection::Impl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    HttpResponse response;
    std::size_t maxBody = 0;
    bool tooLarge = false;
    TlsSeen seen;
};

namespace {

std::size_t OnBody(char* data, std::size_t size, std::size_t n, void* user) {
    auto* impl = static_cast<HttpConnection::Impl*>(user);
    const std::size_t len = size * n;
    if (impl->response.body.size() + len > impl->maxBody) {
        impl->tooLarge = true;
        return 0;  // aborts the transfer
    }
    impl->response.body.append(data, len);
    return len;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* user) {
    auto* impl = static_cast<HttpConnection::Impl*>(user);
    const std::size_t len = size * n;
    std::string line(data, len);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response (after a 100 Continue): forget the earlier headers.
        impl->response.headers.clear();
        return len;
    }
    std::size_t colon = line.find(':');
    if (colon != std::string::npos && impl->response.headers.size() < 200) {
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        impl->response.headers.emplace(Lower(line.substr(0, colon)), value);
    }
    return len;
}

}  // namespace

HttpConnection::HttpConnection(std::string url, HttpOptions options)
    : impl_(std::make_unique<Impl>()), url_(std::move(url)), options_(std::move(options)) {
    GlobalInit();
    https_ = Lower(url_).rfind("https://", 0) == 0;
    impl_->multi = curl_multi_init();
    impl_->easy = curl_easy_init();
    impl_->maxBody = options_.maxBody;
    impl_->seen.trusted = options_.trustedCertificate;
    CURL* e = impl_->easy;
    curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
    // A server that sends nothing for this long has gone silent.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                     std::max(1L, static_cast<long>(options_.silenceTimeout.count() / 1000)));
    // A server that trickles (a byte a second is never silent) must still
    // finish: an answer gets twice the silence time-out after connecting.
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS,
                     static_cast<long>((options_.connectTimeout + 2 * options_.silenceTimeout).count()));
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_PROXY, "");  // a proxy would break the connection-bound NTLM context
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, impl_.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, impl_.get());
    curl_easy_setopt(e, CURLOPT_MAXCONNECTS, 1L);
    if (https_) {
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, options_.trustedCertificate.empty() ? 2L : 0L);
        curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, SslContext);
    }
}

HttpConnection::~HttpConnection() {
    if (impl_->easy) curl_easy_cleanup(impl_->easy);
    if (impl_->multi) curl_multi_cleanup(impl_->multi);
}

std::optional<HttpResponse> HttpConnection::post(const std::vector<std::string>& headers, const std::string& body) {
    error_ = {};
    impl_->response = {};
    impl_->tooLarge = false;
    CURL* e = impl_->easy;
    curl_slist* list = nullptr;
    for (const auto& h : headers) list = curl_slist_append(list, h.c_str());
    // No "Expect: 100-continue" round trip.
    list = curl_slist_append(list, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));

    tlsSeen = &impl_->seen;
    impl_->seen.problem.clear();
    curl_multi_add_handle(impl_->multi, e);
    CURLcode result = CURLE_OK;
    int running = 1;
    while (running) {
        if (curl_multi_perform(impl_->multi, &running) != CURLM_OK) break;
        int queued = 0;
        while (CURLMsg* m = curl_multi_info_read(impl_->multi, &queued))
            if (m->msg == CURLMSG_DONE) result = m->data.result;
        if (!running) break;
        curl_multi_poll(impl_->multi, nullptr, 0, 25, nullptr);
        if (options_.whileWaiting) options_.whileWaiting();
    }
    curl_multi_remove_handle(impl_->multi, e);
    tlsSeen = nullptr;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    if (!impl_->seen.leaf.empty()) certificate_ = impl_->seen.leaf;
    long connects = 0;
    curl_easy_getinfo(e, CURLINFO_NUM_CONNECTS, &connects);
    reconnected_ = connects > 0;

    if (result != CURLE_OK) {
        error_.text = curl_easy_strerror(result);
        switch (result) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
            error_.kind = impl_->response.status || !impl_->response.body.empty() ? HttpFailure::Lost
                                                                                   : HttpFailure::Unreachable;
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
            error_.kind = HttpFailure::Untrusted;
            if (!impl_->seen.problem.empty()) error_.text = impl_->seen.problem;
            else if (!impl_->seen.leaf.empty()) error_.text = "the certificate does not name this computer";
            break;
        case CURLE_WRITE_ERROR:
            error_.kind = impl_->tooLarge ? HttpFailure::TooLarge : HttpFailure::Lost;
            break;
        case CURLE_SSL_CONNECT_ERROR:
            error_.kind = HttpFailure::Unreachable;
            break;
        default:
            error_.kind = HttpFailure::Lost;
        }
        return std::nullopt;
    }
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    impl_->response.status = status;
    return std::move(impl_->response);
}

std::string CertificateFingerprint(const std::string& der) {
    static const char* hex = "0123456789ABCDEF";
    std::string h = Sha256(der), out = "SHA256:";
    for (std::size_t i = 0; i < h.size(); ++i) {
        if (i) out += ':';
        out += hex[static_cast<unsigned char>(h[i]) >> 4];
        out += hex[static_cast<unsigned char>(h[i]) & 15];
    }
    return out;
}

std::optional<std::string> ParseFingerprint(const std::string& text) {
    std::string t = text;
    if (Lower(t.substr(0, 7)) == "sha256:") t = t.substr(7);
    std::string digits;
    for (char c : t) {
        if (c == ':' || c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += c;
    }
    if (digits.size() != 64) return std::nullopt;
    std::string raw;
    for (std::size_t i = 0; i < 64; i += 2) raw += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return raw;
}

}  // namespace wmi::wsman
