#include "core/platform.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace kestrane {

#ifdef _WIN32

std::wstring WideFromUtf8(std::string_view s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string Utf8FromWide(const wchar_t* s, std::size_t len) {
    if (!s || len == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(len), out.data(), n, nullptr, nullptr);
    return out;
}

namespace {

std::wstring Wide(std::string_view s) { return WideFromUtf8(s); }
std::string Narrow(const wchar_t* s) { return Utf8FromWide(s, wcslen(s)); }

}  // namespace

std::filesystem::path PathFromUtf8(std::string_view utf8) { return std::filesystem::path(Wide(utf8)); }

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

void UnsetEnvironment(const char* name) {
    // Both the C library's copy and the process's own block.
    _putenv((std::string(name) + "=").c_str());
    SetEnvironmentVariableA(name, nullptr);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    int n = 0;
    wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!w) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < n; ++i) args.push_back(Narrow(w[i]));
    LocalFree(w);
    return args;
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

#else

std::filesystem::path PathFromUtf8(std::string_view utf8) { return std::filesystem::path(std::string(utf8)); }

std::FILE* OpenFileUtf8(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

void UnsetEnvironment(const char* name) { ::unsetenv(name); }

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void UseUtf8Console() {}

#endif

}  // namespace kestrane
