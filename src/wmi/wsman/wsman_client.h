// Remote Windows computers: WMI's root\cimv2 through WS-Management (WinRM),
// over HTTP with NTLM or Kerberos and sealed messages, or over HTTPS.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "wmi/provider.h"

namespace wmi::wsman {

struct Endpoint {
    bool https = false;
    std::string host;  // without brackets
    int port = 5985;
    std::string url;   // http(s)://host:port/wsman
};

// "http://host[:port]/wsman" and "https://host[:port]/wsman" (the path may
// be left out); IPv6 literals in brackets.
bool IsWsmanUrl(const std::string& name);
std::optional<Endpoint> ParseEndpoint(const std::string& name, std::string* why = nullptr);
// The endpoint a bare name or address is tried at first: HTTP on 5985.
Endpoint BareEndpoint(const std::string& host);

enum class CertificateChoice { Refuse, TrustOnce, Remember };

struct CertificateQuestion {
    std::string host;
    int port = 5986;
    std::string fingerprint;  // "SHA256:AA:BB:..."
    std::string reason;       // why the system does not trust it
};

struct Options {
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds silenceTimeout{60000};
    std::chrono::seconds idleClose{60};
    int maxElements = 100;
    // Certificates trusted explicitly: by "host:port", or for any computer
    // (the CLI's --trust-certificate); raw SHA-256 of the DER.
    std::map<std::string, std::string> trustedCertificates;
    std::string trustedCertificate;
    // Asked when a certificate is not trusted; unset refuses.
    std::function<CertificateChoice(const CertificateQuestion&)> untrustedCertificate;
    // Appended to the refusal of an untrusted certificate.
    std::string untrustedAdvice;
    std::function<void()> whileWaiting;
};

// A provider answering from the Windows computer at the endpoint, through a
// session opened now (authenticated before this returns) or kept from an
// earlier call with the same endpoint and login. User names may be "user",
// "DOMAIN\user" or "user@domain"; an empty password means Kerberos with the
// user's ticket. Throws wmi::Error: 0x800706BA unreachable, 0x80070005 login
// refused, 0x800B0109 untrusted certificate.
std::shared_ptr<Provider> Connect(const Endpoint& endpoint, const std::string& user, const std::string& password,
                                  const Options& options);

// "SHA256:" and the hex of a certificate's DER fingerprint, as shown to users.
std::string CertificateFingerprint(const std::string& der);
// Reads "SHA256:HEX" (colons between bytes allowed); the raw 32 bytes, or
// nothing when malformed.
std::optional<std::string> ParseFingerprint(const std::string& text);

void CloseIdleSessions();
void CloseAllSessions();

}  // namespace wmi::wsman
