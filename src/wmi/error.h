// The one error type of the core: an HRESULT-style number, a source and a
// description, carried unchanged from where it arises up to the selection.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace wmi {

// windows.h defines some of these names as macros of their Win32 codes.
#ifdef _WIN32
#pragma push_macro("RPC_S_SERVER_UNAVAILABLE")
#pragma push_macro("RPC_S_CALL_FAILED")
#pragma push_macro("CERT_E_UNTRUSTEDROOT")
#undef RPC_S_SERVER_UNAVAILABLE
#undef RPC_S_CALL_FAILED
#undef CERT_E_UNTRUSTEDROOT
#endif

// Status codes as WMI and Win32 report them (shown in signed decimal).
enum : std::uint32_t {
    WBEM_E_FAILED = 0x80041001,
    WBEM_E_NOT_FOUND = 0x80041002,
    WBEM_E_ACCESS_DENIED = 0x80041003,
    WBEM_E_INVALID_PARAMETER = 0x80041008,
    WBEM_E_INVALID_NAMESPACE = 0x8004100E,
    WBEM_E_INVALID_CLASS = 0x80041010,
    WBEM_E_PROVIDER_LOAD_FAILURE = 0x80041013,
    WBEM_E_TRANSPORT_FAILURE = 0x80041015,
    WBEM_E_INVALID_QUERY = 0x80041017,
    WBEM_E_INVALID_QUERY_TYPE = 0x80041018,
    E_ACCESSDENIED_WIN32 = 0x80070005,
    RPC_S_SERVER_UNAVAILABLE = 0x800706BA,
    RPC_S_CALL_FAILED = 0x800706BE,
    CERT_E_UNTRUSTEDROOT = 0x800B0109,
};

#ifdef _WIN32
#pragma pop_macro("RPC_S_SERVER_UNAVAILABLE")
#pragma pop_macro("RPC_S_CALL_FAILED")
#pragma pop_macro("CERT_E_UNTRUSTEDROOT")
#endif

class Error : public std::runtime_error {
public:
    Error(std::uint32_t number, std::string source, std::string description)
        : std::runtime_error(description),
          number_(static_cast<std::int32_t>(number)),
          source_(std::move(source)),
          description_(std::move(description)) {}

    std::int32_t number() const { return number_; }
    std::uint32_t unsignedNumber() const { return static_cast<std::uint32_t>(number_); }
    const std::string& source() const { return source_; }
    const std::string& description() const { return description_; }

    // "number:description" with the number in signed decimal.
    std::string displayText() const { return std::to_string(number_) + ":" + description_; }

private:
    std::int32_t number_;
    std::string source_;
    std::string description_;
};

// The description WMI gives a status code, or "" for codes it does not know.
const char* StandardDescription(std::uint32_t number);

// An error with the standard description of its number.
Error MakeError(std::uint32_t number, std::string source);

}  // namespace wmi
