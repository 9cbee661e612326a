// Computer names and known_hosts look-ups: no network here.

#include <cstdlib>
#include <fstream>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sstream>
#include <vector>

#include "wmi/ssh/ssh_client.h"

namespace wmi::ssh {

namespace {

bool ValidHostChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool ValidUserChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '$';
}

std::optional<int> ParsePort(const std::string& s) {
    if (s.empty() || s.size() > 5) return std::nullopt;
    int p = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        p = p * 10 + (c - '0');
    }
    if (p < 1 || p > 65535) return std::nullopt;
    return p;
}

std::optional<std::string> Base64Decode(const std::string& in) {
    std::vector<unsigned char> out((in.size() / 4 + 1) * 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size()));
    if (n < 0 || in.size() % 4 != 0) return std::nullopt;
    std::size_t pad = 0;
    if (!in.empty() && in.back() == '=') ++pad;
    if (in.size() > 1 && in[in.size() - 2] == '=') ++pad;
    return std::string(reinterpret_cast<char*>(out.data()), static_cast<std::size_t>(n) - pad);
}

// "|1|salt|hash": HMAC-SHA1 of the host text under the salt.
bool HashedMatch(const std::string& pattern, const std::string& host) {
    std::size_t bar = pattern.find('|', 3);
    if (pattern.rfind("|1|", 0) != 0 || bar == std::string::npos) return false;
    auto salt = Base64Decode(pattern.substr(3, bar - 3));
    auto hash = Base64Decode(pattern.substr(bar + 1));
    if (!salt || !hash) return false;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!HMAC(EVP_sha1(), salt->data(), static_cast<int>(salt->size()),
              reinterpret_cast<const unsigned char*>(host.data()), host.size(), md, &len))
        return false;
    return len == hash->size() && std::equal(md, md + len, hash->begin(), [](unsigned char a, char b) {
               return a == static_cast<unsigned char>(b);
           });
}

// OpenSSH's host patterns: '*' and '?' are wild, everything else (brackets
// included) is literal, letter case aside.
bool WildMatch(std::string_view p, std::string_view s) {
    std::size_t pi = 0, si = 0, star = std::string_view::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == '?' || std::tolower(static_cast<unsigned char>(p[pi])) ==
                                                   std::tolower(static_cast<unsigned char>(s[si])))) {
            ++pi;
            ++si;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = si;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace

bool IsSshUrl(const std::string& name) {
    return name.size() >= 6 && std::equal(name.begin(), name.begin() + 6, "ssh://", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

std::optional<Target> ParseTarget(const std::string& name, std::string* why) {
    auto fail = [&](const std::string& what) -> std::optional<Target> {
        if (why) *why = what;
        return std::nullopt;
    };
    Target t;
    std::string rest = name;
    const bool url = IsSshUrl(name);
    if (url) {
        rest = name.substr(6);
        if (!rest.empty() && rest.back() == '/') rest.pop_back();
        std::size_t at = rest.rfind('@');
        if (at != std::string::npos) {
            t.user = rest.substr(0, at);
            rest = rest.substr(at + 1);
            if (t.user.empty()) return fail("the user name before \"@\" is empty");
            for (char c : t.user)
                if (!ValidUserChar(c)) return fail("the user name holds a character user names do not have");
        }
    }
    if (!rest.empty() && rest.front() == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos) return fail("an IPv6 address lacks its closing \"]\"");
        t.host = rest.substr(1, close - 1);
        std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':' || !url) return fail("only a port may follow the address");
            auto p = ParsePort(after.substr(1));
            if (!p) return fail("the port is not a number from 1 to 65535");
            t.port = *p;
        }
        if (t.host.empty()) return fail("the address in brackets is empty");
        for (char c : t.host)
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return fail("the address in brackets is not an IPv6 address");
        return t;
    }
    std::size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        // A bare IPv6 address without a port.
        if (!url && rest.find(':', colon + 1) != std::string::npos) {
            for (char c : rest)
                if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                    return fail("\"" + rest + "\" is not a computer name or address");
            t.host = rest;
            return t;
        }
        if (!url) return fail("a port can be given only in the form ssh://host:port");
        auto p = ParsePort(rest.substr(colon + 1));
        if (!p) return fail("the port is not a number from 1 to 65535");
        t.port = *p;
        rest = rest.substr(0, colon);
    }
    if (rest.empty()) return fail("the computer name is empty");
    if (rest.size() > 253) return fail("the computer name is longer than 253 characters");
    for (char c : rest)
        if (!ValidHostChar(c)) return fail("the computer name holds a character host names do not have");
    if (rest.front() == '-') return fail("a computer name cannot begin with \"-\"");
    std::string labels = rest.back() == '.' ? rest.substr(0, rest.size() - 1) : rest;
    for (std::size_t start = 0, dot;; start = dot + 1) {
        dot = labels.find('.', start);
        const std::size_t len = (dot == std::string::npos ? labels.size() : dot) - start;
        if (len == 0 || len > 63) return fail("each part of a computer name between dots has 1 to 63 characters");
        if (dot == std::string::npos) break;
    }
    t.host = rest;
    return t;
}

std::string KnownHostsPath() {
    const char* home = std::getenv("HOME");
    std::string h = home && *home ? home : "/";
    if (h.back() != '/') h += '/';
    return h + ".ssh/known_hosts";
}

int KnownHostsLine(const std::string& path, const std::string& host, int port, const std::string& keyType) {
    std::ifstream in(path);
    const std::string name = port == 22 ? host : "[" + host + "]:" + std::to_string(port);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        std::istringstream fields(line);
        std::string patterns, type;
        fields >> patterns;
        if (patterns.empty() || patterns[0] == '#') continue;
        if (patterns[0] == '@') fields >> patterns;  // a marker such as @revoked
        fields >> type;
        if (!keyType.empty() && type != keyType) continue;
        bool match = false;
        std::istringstream list(patterns);
        for (std::string p; std::getline(list, p, ',');) {
            const bool negated = !p.empty() && p[0] == '!';
            if (negated) p.erase(0, 1);
            const bool hit = p.rfind("|1|", 0) == 0 ? HashedMatch(p, name)
                                                    : WildMatch(p, name);
            if (hit && negated) {
                match = false;
                break;
            }
            match = match || hit;
        }
        if (match) return number;
    }
    return 0;
}

}  // namespace wmi::ssh
