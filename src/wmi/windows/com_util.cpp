#include "wmi/windows/com_util.h"

#include <wbemidl.h>

#include <cstdio>

#include "core/platform.h"

namespace wmi::com {

std::wstring Wide(std::string_view utf8) { return kestrane::WideFromUtf8(utf8); }

std::string Narrow(const wchar_t* s, std::size_t len) { return kestrane::Utf8FromWide(s, len); }

namespace {

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

std::string StatusCodeText(HRESULT hr) {
    ComPtr<IWbemStatusCodeText> status;
    if (FAILED(CoCreateInstance(CLSID_WbemStatusCodeText, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemStatusCodeText,
                                reinterpret_cast<void**>(status.put()))))
        return {};
    Bstr text;
    if (FAILED(status->GetErrorCodeText(hr, 0, 0, text.put()))) return {};
    return Trimmed(Narrow(text.get()));
}

std::string SystemText(HRESULT hr) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::string s = n ? Trimmed(Narrow(buf, n)) : std::string();
    LocalFree(buf);
    return s;
}

// A text that only restates the number ("Error code: 0x80041017", as
// Wine's WMI answers for every code) describes nothing.
bool OnlyNumber(const std::string& text, HRESULT hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lx", static_cast<unsigned long>(hr));
    std::string lower;
    for (char c : text) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return lower.find(hex) != std::string::npos;
}

}  // namespace

std::string Describe(HRESULT hr) {
    std::string wmiText = StatusCodeText(hr);
    if (!wmiText.empty() && !OnlyNumber(wmiText, hr)) return wmiText;
    std::string sys = SystemText(hr);
    if (!sys.empty()) return sys;
    if (const char* known = StandardDescription(static_cast<std::uint32_t>(hr)); *known) return known;
    if (!wmiText.empty()) return wmiText;
    char buf[32];
    std::snprintf(buf, sizeof buf, "Error 0x%08lX", static_cast<unsigned long>(hr));
    return buf;
}

}  // namespace wmi::com
