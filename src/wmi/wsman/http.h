// A plain HTTP/1.1 transport on one kept connection (libcurl). Authentication
// is not libcurl's: the caller sends its own Authorization headers, since an
// NTLM context is bound to the TCP connection it was made on.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wmi::wsman {

struct HttpResponse {
    long status = 0;
    std::multimap<std::string, std::string> headers;  // lower-cased names
    std::string body;

    std::vector<std::string> all(const std::string& lowerName) const;
    std::string first(const std::string& lowerName) const;
};

enum class HttpFailure {
    None,
    Unreachable,      // name, route, refused, connect time-out
    Untrusted,        // the server's certificate is not trusted
    Lost,             // the connection broke or the server fell silent
    TooLarge,         // an answer beyond the bound
};

struct HttpError {
    HttpFailure kind = HttpFailure::None;
    std::string text;  // libcurl's words
};

struct HttpOptions {
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds silenceTimeout{60000};
    std::size_t maxBody = 16 * 1024 * 1024;
    // HTTPS: a certificate the user trusts by its SHA-256 fingerprint (raw
    // 32 bytes), accepted whatever its chain or name.
    std::string trustedCertificate;
    // Called while waiting, on the caller's thread.
    std::function<void()> whileWaiting;
};

class HttpConnection {
public:
    HttpConnection(std::string url, HttpOptions options);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // POSTs a body with extra header lines ("Name: value"). On failure,
    // nothing is returned and error() says why.
    std::optional<HttpResponse> post(const std::vector<std::string>& headers, const std::string& body);

    const HttpError& error() const { return error_; }
    // The server certificate met on the last HTTPS connection (DER), if any.
    const std::string& serverCertificate() const { return certificate_; }
    bool isHttps() const { return https_; }
    // Whether the last post had to open a new TCP connection: a login bound
    // to the old one is gone then.
    bool reconnected() const { return reconnected_; }
    const std::string& url() const { return url_; }

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    std::string url_;
    HttpOptions options_;
    HttpError error_;
    std::string certificate_;
    bool https_ = false;
    bool reconnected_ = false;
};

}  // namespace wmi::wsman
