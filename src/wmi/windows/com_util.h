// Small COM helpers of the Windows provider: an owning interface pointer,
// UTF-8/UTF-16 conversion, and HRESULTs as wmi::Error.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

#include "wmi/error.h"

namespace wmi::com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr&& o) noexcept {
        if (this != &o) {
            reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out parameters: releases what was held.
    T** put() {
        reset();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// A BSTR freed on scope exit; Wipe() clears it first (for passwords).
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
    Bstr& operator=(Bstr&& o) noexcept {
        if (this != &o) {
            SysFreeString(b_);
            b_ = std::exchange(o.b_, nullptr);
        }
        return *this;
    }
    ~Bstr() { SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* put() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    void wipe() {
        if (b_) SecureZeroMemory(b_, SysStringByteLen(b_));
    }

private:
    BSTR b_ = nullptr;
};

std::wstring Wide(std::string_view utf8);
std::string Narrow(const wchar_t* s, std::size_t n);
inline std::string Narrow(std::wstring_view s) { return Narrow(s.data(), s.size()); }
inline std::string Narrow(BSTR s) { return s ? Narrow(s, SysStringLen(s)) : std::string(); }

// WMI's description of a status code: its own text where it gives more than
// the number, else the system's message, else the object model's.
std::string Describe(HRESULT hr);
inline Error HresultError(HRESULT hr, std::string source) {
    return Error(static_cast<std::uint32_t>(hr), std::move(source), Describe(hr));
}

}  // namespace wmi::com
