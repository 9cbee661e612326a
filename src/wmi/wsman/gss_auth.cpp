#include "wmi/wsman/gss_auth.h"

#include <cstring>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <stdexcept>
#include <vector>

namespace wmi::wsman {

namespace {

constexpr const char* kNotEncrypted = "the login gives no encryption, and messages over HTTP must be sealed";

// 1.3.6.1.4.1.311.2.2.10, which gss-ntlmssp registers.
gss_OID_desc kNtlmOid = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};
// 1.2.840.113554.1.2.2
gss_OID_desc kKrb5Oid = {9, const_cast<char*>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02")};

std::string Status(OM_uint32 major, OM_uint32 minor, const gss_OID mech) {
    std::string out;
    for (int type : {GSS_C_GSS_CODE, GSS_C_MECH_CODE}) {
        OM_uint32 code = type == GSS_C_GSS_CODE ? major : minor;
        if (!code) continue;
        OM_uint32 ctx = 0, m;
        do {
            gss_buffer_desc b{};
            if (gss_display_status(&m, code, type, mech, &ctx, &b) != GSS_S_COMPLETE) break;
            if (!out.empty()) out += "; ";
            out.append(static_cast<const char*>(b.value), b.length);
            gss_release_buffer(&m, &b);
        } while (ctx);
    }
    return out.empty() ? "unknown GSS-API failure" : out;
}

}  // namespace

struct GssContext::Impl {
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_name_t target = GSS_C_NO_NAME;
    gss_OID mech = &kNtlmOid;
    std::string binding;
    gss_channel_bindings_struct cb{};
};

GssContext::GssContext(const std::string& user, const std::string& password, const std::string& host,
                       const std::string& channelBinding)
    : impl_(std::make_unique<Impl>()) {
    OM_uint32 minor = 0, major;
    kerberos_ = password.empty();
    impl_->mech = kerberos_ ? &kKrb5Oid : &kNtlmOid;
    std::string service = "HTTP@" + host;
    gss_buffer_desc sb{service.size(), service.data()};
    major = gss_import_name(&minor, &sb, GSS_C_NT_HOSTBASED_SERVICE, &impl_->target);
    if (GSS_ERROR(major)) throw std::runtime_error(Status(major, minor, impl_->mech));
    if (!kerberos_) {
        gss_name_t name = GSS_C_NO_NAME;
        gss_buffer_desc ub{user.size(), const_cast<char*>(user.data())};
        major = gss_import_name(&minor, &ub, GSS_C_NT_USER_NAME, &name);
        if (GSS_ERROR(major)) throw std::runtime_error(Status(major, minor, impl_->mech));
        gss_buffer_desc pw{password.size(), const_cast<char*>(password.data())};
        gss_OID_set_desc mechs{1, impl_->mech};
        major = gss_acquire_cred_with_password(&minor, name, &pw, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE,
                                               &impl_->cred, nullptr, nullptr);
        gss_release_name(&minor, &name);
        if (GSS_ERROR(major))
            throw std::runtime_error("NTLM credentials cannot be made (is gss-ntlmssp installed?): " +
                                     Status(major, minor, impl_->mech));
    }
    if (!channelBinding.empty()) {
        impl_->binding = channelBinding;
        impl_->cb.application_data.length = impl_->binding.size();
        impl_->cb.application_data.value = impl_->binding.data();
    }
}

GssContext::~GssContext() {
    OM_uint32 minor;
    if (impl_->ctx != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &impl_->ctx, GSS_C_NO_BUFFER);
    if (impl_->cred != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &impl_->cred);
    if (impl_->target != GSS_C_NO_NAME) gss_release_name(&minor, &impl_->target);
}

std::string GssContext::step(const std::string& serverToken) {
    OM_uint32 minor = 0, flags = 0;
    gss_buffer_desc in{serverToken.size(), const_cast<char*>(serverToken.data())};
    gss_buffer_desc out{};
    OM_uint32 major = gss_init_sec_context(
        &minor, impl_->cred, &impl_->ctx, impl_->target, impl_->mech,
        GSS_C_CONF_FLAG | GSS_C_INTEG_FLAG | GSS_C_SEQUENCE_FLAG | GSS_C_REPLAY_FLAG | GSS_C_MUTUAL_FLAG, 0,
        impl_->binding.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &impl_->cb, serverToken.empty() ? GSS_C_NO_BUFFER : &in,
        nullptr, &out, &flags, nullptr);
    std::string token(static_cast<const char*>(out.value), out.length);
    OM_uint32 ignored;  // minor must survive for the words of the failure
    gss_release_buffer(&ignored, &out);
    if (GSS_ERROR(major)) {
        unknownService_ = kerberos_ && minor == static_cast<OM_uint32>(KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN);
        throw std::runtime_error(Status(major, minor, impl_->mech));
    }
    established_ = major == GSS_S_COMPLETE;
    return token;
}

GssContext::Sealed GssContext::seal(const std::string& message) {
    OM_uint32 minor = 0, major;
    Sealed s;
    if (!kerberos_) {
        // gss-ntlmssp's wrap token is the 16-byte signature, then the data.
        gss_buffer_desc in{message.size(), const_cast<char*>(message.data())}, out{};
        int conf = 0;
        major = gss_wrap(&minor, impl_->ctx, 1, GSS_C_QOP_DEFAULT, &in, &conf, &out);
        if (GSS_ERROR(major) || out.length < 16) throw std::runtime_error(Status(major, minor, impl_->mech));
        if (!conf) {
            gss_release_buffer(&minor, &out);
            throw std::runtime_error(kNotEncrypted);
        }
        std::string t(static_cast<const char*>(out.value), out.length);
        gss_release_buffer(&minor, &out);
        s.header = t.substr(0, 16);
        s.data = t.substr(16);
        return s;
    }
    std::string data = message;
    gss_iov_buffer_desc iov[3] = {};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER | GSS_IOV_BUFFER_FLAG_ALLOCATE;
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer = {data.size(), data.data()};
    iov[2].type = GSS_IOV_BUFFER_TYPE_PADDING | GSS_IOV_BUFFER_FLAG_ALLOCATE;
    int conf = 0;
    major = gss_wrap_iov(&minor, impl_->ctx, 1, GSS_C_QOP_DEFAULT, &conf, iov, 3);
    if (GSS_ERROR(major)) throw std::runtime_error(Status(major, minor, impl_->mech));
    if (!conf) {
        gss_release_iov_buffer(&minor, iov, 3);
        throw std::runtime_error(kNotEncrypted);
    }
    s.header.assign(static_cast<const char*>(iov[0].buffer.value), iov[0].buffer.length);
    s.data = data;
    s.data.append(static_cast<const char*>(iov[2].buffer.value), iov[2].buffer.length);
    gss_release_iov_buffer(&minor, iov, 3);
    return s;
}

std::optional<std::string> GssContext::unseal(const std::string& header, const std::string& data) {
    OM_uint32 minor = 0, major;
    if (!kerberos_) {
        std::string token = header + data;
        gss_buffer_desc in{token.size(), token.data()}, out{};
        int conf = 0;
        major = gss_unwrap(&minor, impl_->ctx, &in, &out, &conf, nullptr);
        if (GSS_ERROR(major)) return std::nullopt;
        if (!conf) {  // signed but readable by anyone on the way: not sealed
            gss_release_buffer(&minor, &out);
            return std::nullopt;
        }
        std::string plain(static_cast<const char*>(out.value), out.length);
        gss_release_buffer(&minor, &out);
        return plain;
    }
    std::string h = header, d = data;
    gss_iov_buffer_desc iov[2] = {};
    iov[0].type = GSS_IOV_BUFFER_TYPE_HEADER;
    iov[0].buffer = {h.size(), h.data()};
    iov[1].type = GSS_IOV_BUFFER_TYPE_DATA;
    iov[1].buffer = {d.size(), d.data()};
    int conf = 0;
    major = gss_unwrap_iov(&minor, impl_->ctx, &conf, nullptr, iov, 2);
    if (GSS_ERROR(major) || !conf) return std::nullopt;
    return std::string(static_cast<const char*>(iov[1].buffer.value), iov[1].buffer.length);
}

}  // namespace wmi::wsman
