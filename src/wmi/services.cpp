#include "wmi/services.h"

#include <cctype>

#include "core/hostname.h"

namespace wmi {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Consumes a keyword, compared case-insensitively.
bool Keyword(std::string_view q, std::size_t& i, std::string_view word) {
    if (q.size() - i < word.size() || !EqualsNoCase(q.substr(i, word.size()), word)) return false;
    i += word.size();
    return true;
}

void SkipSpace(std::string_view q, std::size_t& i) {
    while (i < q.size() && IsSpace(q[i])) ++i;
}

}  // namespace

std::string ParseWqlClass(std::string_view q) {
    auto bad = [] { return MakeError(WBEM_E_INVALID_QUERY, "SWbemServicesEx"); };
    auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    std::size_t i = 0;
    SkipSpace(q, i);
    if (!Keyword(q, i, "select") || (i < q.size() && isWord(q[i]))) throw bad();
    SkipSpace(q, i);
    if (i >= q.size() || q[i] != '*') throw bad();
    ++i;
    SkipSpace(q, i);
    if (!Keyword(q, i, "from")) throw bad();
    std::size_t afterFrom = i;
    SkipSpace(q, i);
    if (i == afterFrom) throw bad();
    std::size_t start = i;
    while (i < q.size() && isWord(q[i])) ++i;
    if (i == start) throw bad();
    std::string cls(q.substr(start, i - start));
    SkipSpace(q, i);
    if (i != q.size()) throw bad();
    return cls;
}

ObjectSet::ObjectSet(std::shared_ptr<Provider> provider, std::string className)
    : provider_(std::move(provider)), className_(std::move(className)) {}

std::optional<Object> ObjectSet::Next() {
    if (finished_) return std::nullopt;
    if (!cursor_) {
        cursor_ = only_.empty() ? provider_->enumerate(className_) : provider_->enumerate(className_, only_);
        if (!cursor_) throw MakeError(WBEM_E_INVALID_CLASS, "SWbemObjectSet");
    }
    auto obj = cursor_->next();
    if (!obj) {
        finished_ = true;
        cursor_.reset();
    }
    return obj;
}

ObjectSet Services::ExecQuery(std::string_view query, std::string_view language, int) const {
    if (!EqualsNoCase(language, "WQL")) throw MakeError(WBEM_E_INVALID_QUERY_TYPE, "SWbemServicesEx");
    return ObjectSet(provider_, ParseWqlClass(query));
}

bool IsLocalComputer(const std::string& server) {
    if (server.empty() || server == "." || EqualsNoCase(server, "localhost") || server == "127.0.0.1" ||
        server == "::1")
        return true;
    std::string host = kestrane::LocalHostName();
    return !host.empty() && EqualsNoCase(server, host);
}

Services Locator::ConnectServer(const std::string& server, const std::string& nameSpace,
                                const std::string& user, const std::string& password) const {
    std::string ns = ToLowerAscii(nameSpace);
    for (char& c : ns)
        if (c == '/') c = '\\';
    while (!ns.empty() && ns.front() == '\\') ns.erase(ns.begin());
    if (ns != "root\\cimv2") throw MakeError(WBEM_E_INVALID_NAMESPACE, "SWbemLocator");

    std::shared_ptr<Provider> provider;
    if (IsLocalComputer(server)) {
        provider = backends_.local ? backends_.local() : std::make_shared<EmptyProvider>();
    } else {
        if (!backends_.remote) throw MakeError(RPC_S_SERVER_UNAVAILABLE, "SWbemLocator");
        provider = backends_.remote(server, user, password);
    }
    if (!provider) throw MakeError(WBEM_E_FAILED, "SWbemLocator");
    return Services(std::move(provider));
}

}  // namespace wmi
