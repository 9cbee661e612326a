// Negotiate authentication and message sealing through GSS-API: NTLM
// (gss-ntlmssp) with a password, Kerberos with the user's ticket.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace wmi::wsman {

class GssContext {
public:
    // With a password: NTLM as `user` ("user", "DOMAIN\user" or
    // "user@domain"). Without one: Kerberos with the default credentials
    // for HTTP@host. `channelBinding` is the RFC 5929 tls-server-end-point
    // data over HTTPS, empty over HTTP. Throws std::runtime_error with
    // GSS-API's words when the credentials cannot be made.
    GssContext(const std::string& user, const std::string& password, const std::string& host,
               const std::string& channelBinding);
    ~GssContext();
    GssContext(const GssContext&) = delete;
    GssContext& operator=(const GssContext&) = delete;

    // One step of the exchange: the server's token in (empty at first),
    // the next token out (empty when none is needed). Throws
    // std::runtime_error when the exchange fails.
    std::string step(const std::string& serverToken);
    bool established() const { return established_; }
    bool kerberos() const { return kerberos_; }
    // After a failed step: Kerberos knows no service by the name asked for.
    bool unknownService() const { return unknownService_; }

    // Seals a message: the header (NTLM's 16-byte signature, or Kerberos'
    // token header) and the sealed data, which MS-WSMV frames apart.
    struct Sealed {
        std::string header;
        std::string data;
    };
    Sealed seal(const std::string& message);
    // Opens a sealed message; nothing when it does not verify.
    std::optional<std::string> unseal(const std::string& header, const std::string& data);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    bool established_ = false;
    bool kerberos_ = false;
    bool unknownService_ = false;
};

}  // namespace wmi::wsman
