// Reads classes from WMI with COM calls of its own and prints them as a
// snapshot file, so the tests can compare kestrane-cli.exe's listings with
// values read independently of the program's provider.
//   wmi_probe.exe CLASS...
#define _WIN32_DCOM
#include <windows.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

namespace {

std::string Utf8(const wchar_t* s, int n = -1) {
    if (!s) return {};
    int len = WideCharToMultiByte(CP_UTF8, 0, s, n, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, n, out.data(), len, nullptr, nullptr);
    if (n < 0 && !out.empty()) out.pop_back();
    return out;
}

std::wstring Utf16(const std::string& s) {
    int len = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(len), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, out.data(), len);
    out.pop_back();
    return out;
}

[[noreturn]] void Fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "wmi_probe: %s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
    std::exit(1);
}

// The scalar as the text OLE Automation gives it.
std::string AsText(VARIANT& v) {
    VARIANT t;
    VariantInit(&t);
    if (FAILED(VariantChangeType(&t, &v, VARIANT_ALPHABOOL, VT_BSTR))) return {};
    std::string s = Utf8(V_BSTR(&t), static_cast<int>(SysStringLen(V_BSTR(&t))));
    VariantClear(&t);
    return s;
}

nlohmann::json Scalar(VARIANT& v, CIMTYPE type) {
    if (V_VT(&v) == VT_NULL || V_VT(&v) == VT_EMPTY) return nullptr;
    switch (type) {
    case CIM_BOOLEAN:
        return V_BOOL(&v) != VARIANT_FALSE;
    case CIM_SINT8: case CIM_SINT16: case CIM_SINT32:
        return std::strtoll(AsText(v).c_str(), nullptr, 10);
    case CIM_UINT8: case CIM_UINT16: case CIM_UINT32: {
        // WMI passes uint32 in a signed VT_I4.
        long long n = std::strtoll(AsText(v).c_str(), nullptr, 10);
        if (type == CIM_UINT32 && n < 0) n += 4294967296LL;
        return n;
    }
    case CIM_REAL32: case CIM_REAL64:
        return std::strtod(AsText(v).c_str(), nullptr);
    case CIM_CHAR16: {
        wchar_t c[2] = {static_cast<wchar_t>(V_I2(&v)), 0};
        return Utf8(c);
    }
    default:
        return AsText(v);
    }
}

nlohmann::json Value(VARIANT& v, CIMTYPE type) {
    if (!(V_VT(&v) & VT_ARRAY)) return Scalar(v, type);
    nlohmann::json a = nlohmann::json::array();
    SAFEARRAY* sa = V_ARRAY(&v);
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(sa, 1, &lo);
    SafeArrayGetUBound(sa, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        VARIANT e;
        VariantInit(&e);
        V_VT(&e) = static_cast<VARTYPE>(V_VT(&v) & ~VT_ARRAY);
        SafeArrayGetElement(sa, &i, &V_I8(&e));
        a.push_back(Scalar(e, type));
        VariantClear(&e);
    }
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr)) Fail("CoInitializeEx", hr);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                         nullptr, EOAC_NONE, nullptr);
    IWbemLocator* locator = nullptr;
    hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                          reinterpret_cast<void**>(&locator));
    if (FAILED(hr)) Fail("CoCreateInstance", hr);
    IWbemServices* services = nullptr;
    BSTR ns = SysAllocString(L"ROOT\\CIMV2");
    hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    if (FAILED(hr)) Fail("ConnectServer", hr);

    nlohmann::ordered_json snap;
    snap["format"] = "kestrane-snapshot";
    snap["version"] = 1;
    snap["computer"] = "PROBE";
    snap["captured"] = "20260101000000.000000+000";
    snap["classes"] = nlohmann::ordered_json::object();
    for (int k = 1; k < argc; ++k) {
        const std::string className = argv[k];
        nlohmann::ordered_json props = nlohmann::ordered_json::array(), instances = nlohmann::ordered_json::array();
        IEnumWbemClassObject* e = nullptr;
        BSTR lang = SysAllocString(L"WQL");
        BSTR query = SysAllocString(Utf16("SELECT * FROM " + className).c_str());
        hr = services->ExecQuery(lang, query, WBEM_FLAG_FORWARD_ONLY, nullptr, &e);
        if (FAILED(hr)) Fail("ExecQuery", hr);
        IWbemClassObject* obj = nullptr;
        ULONG got = 0;
        while (e->Next(WBEM_INFINITE, 1, &obj, &got) == WBEM_S_NO_ERROR && got == 1) {
            nlohmann::ordered_json inst = nlohmann::ordered_json::object();
            obj->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
            BSTR name = nullptr;
            VARIANT v;
            VariantInit(&v);
            CIMTYPE type = 0;
            while (obj->Next(0, &name, &v, &type, nullptr) == WBEM_S_NO_ERROR) {
                const std::string n = Utf8(name);
                if (instances.empty())
                    props.push_back({{"name", n},
                                     {"cimtype", type & ~CIM_FLAG_ARRAY},
                                     {"array", (type & CIM_FLAG_ARRAY) != 0},
                                     {"origin", className}});
                nlohmann::json value = Value(v, type & ~CIM_FLAG_ARRAY);
                if (!value.is_null()) inst[n] = value;
                SysFreeString(name);
                VariantClear(&v);
            }
            obj->EndEnumeration();
            obj->Release();
            instances.push_back(inst);
        }
        e->Release();
        snap["classes"][className] = {{"properties", props}, {"instances", instances}};
    }
    std::string out = snap.dump(1);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
