#include "win32/stores.h"

#include <windows.h>
#include <shlobj.h>
#include <wincred.h>

#include <cstdio>

#include "core/platform.h"

namespace kestrane::win32 {

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Values are stored as written; only what would break the line structure
// is escaped.
std::string Escape(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string Unescape(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            char n = v[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

std::wstring CredentialName(const std::string& key) { return L"Kestrane:" + WideFromUtf8(key); }

}  // namespace

std::string IniSettingsStore::Serialize(const std::map<std::string, std::string>& values) {
    std::string out, section;
    bool first = true;
    for (const auto& [path, value] : values) {
        std::size_t slash = path.find('/');
        std::string s = slash == std::string::npos ? "General" : path.substr(0, slash);
        std::string k = slash == std::string::npos ? path : path.substr(slash + 1);
        if (first || s != section) {
            if (!first) out += "\r\n";
            out += "[" + s + "]\r\n";
            section = s;
            first = false;
        }
        out += k + "=" + Escape(value) + "\r\n";
    }
    return out;
}

std::map<std::string, std::string> IniSettingsStore::Parse(const std::string& text) {
    std::map<std::string, std::string> values;
    std::string section = "General";
    std::size_t pos = 0;
    // A byte-order mark from an editor is not part of the first section.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Trim(line.substr(1, line.size() - 2));
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        values[section + "/" + Trim(line.substr(0, eq))] = Unescape(Trim(line.substr(eq + 1)));
    }
    return values;
}

std::wstring IniSettingsStore::DefaultPath(const std::wstring& name) {
    PWSTR appData = nullptr;
    std::wstring dir;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &appData)))
        dir = appData;
    CoTaskMemFree(appData);
    if (dir.empty()) dir = L".";
    return dir + L"\\Kestrane\\" + name + L".ini";
}

IniSettingsStore::IniSettingsStore(std::wstring path) : path_(std::move(path)) {
    HANDLE h = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    std::string text;
    char buf[8192];
    DWORD got = 0;
    // Settings files are small; a huge one is not ours and is not read whole.
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0 && text.size() < (1u << 20))
        text.append(buf, got);
    CloseHandle(h);
    values_ = Parse(text);
}

std::string IniSettingsStore::get(const std::string& section, const std::string& key) const {
    auto it = values_.find(section + "/" + key);
    return it == values_.end() ? std::string() : it->second;
}

bool IniSettingsStore::contains(const std::string& section, const std::string& key) const {
    return values_.count(section + "/" + key) != 0;
}

void IniSettingsStore::set(const std::string& section, const std::string& key, const std::string& value) {
    values_[section + "/" + key] = value;
    dirty_ = true;
}

void IniSettingsStore::remove(const std::string& section, const std::string& key) {
    if (values_.erase(section + "/" + key)) dirty_ = true;
}

std::vector<std::string> IniSettingsStore::keys(const std::string& section) const {
    std::vector<std::string> out;
    const std::string prefix = section + "/";
    for (auto it = values_.lower_bound(prefix); it != values_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        out.push_back(it->first.substr(prefix.size()));
    return out;
}

bool IniSettingsStore::sync() {
    if (!dirty_) return true;
    std::size_t slash = path_.find_last_of(L"\\/");
    if (slash != std::wstring::npos) SHCreateDirectoryExW(nullptr, path_.substr(0, slash).c_str(), nullptr);
    const std::wstring tmp = path_ + L".tmp";
    HANDLE h = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::string text = Serialize(values_);
    DWORD written = 0;
    bool ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(h);
    CloseHandle(h);
    if (ok) ok = MoveFileExW(tmp.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileW(tmp.c_str());
        return false;
    }
    dirty_ = false;
    return true;
}

std::string IniSettingsStore::location() const { return Utf8FromWide(path_.data(), path_.size()); }

std::optional<std::string> CredentialSecretStore::read(const std::string& key) {
    if (auto it = memory_.find(key); it != memory_.end()) return it->second;
    PCREDENTIALW cred = nullptr;
    if (!CredReadW(CredentialName(key).c_str(), CRED_TYPE_GENERIC, 0, &cred))
        return GetLastError() == ERROR_NOT_FOUND ? std::optional<std::string>(std::string()) : std::nullopt;
    std::string secret = Utf8FromWide(reinterpret_cast<const wchar_t*>(cred->CredentialBlob),
                                      cred->CredentialBlobSize / sizeof(wchar_t));
    SecureZeroMemory(cred->CredentialBlob, cred->CredentialBlobSize);
    CredFree(cred);
    return secret;
}

bool CredentialSecretStore::write(const std::string& key, const std::string& secret) {
    if (secret.empty()) {
        memory_.erase(key);
        return remove(key);
    }
    std::wstring name = CredentialName(key), blob = WideFromUtf8(secret);
    CREDENTIALW cred{};
    cred.Type = CRED_TYPE_GENERIC;
    cred.TargetName = name.data();
    cred.CredentialBlobSize = static_cast<DWORD>(blob.size() * sizeof(wchar_t));
    cred.CredentialBlob = reinterpret_cast<LPBYTE>(blob.data());
    cred.Persist = CRED_PERSIST_LOCAL_MACHINE;
    wchar_t user[] = L"Kestrane";
    cred.UserName = user;
    const bool ok = CredWriteW(&cred, 0);
    SecureZeroMemory(blob.data(), blob.size() * sizeof(wchar_t));
    if (ok) memory_.erase(key);
    else memory_[key] = secret;
    return ok;
}

bool CredentialSecretStore::remove(const std::string& key) {
    memory_.erase(key);
    return CredDeleteW(CredentialName(key).c_str(), CRED_TYPE_GENERIC, 0) || GetLastError() == ERROR_NOT_FOUND;
}

}  // namespace kestrane::win32
