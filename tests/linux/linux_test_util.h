// Helpers shared by the Linux provider tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "wmi/linux/linux_provider.h"
#include "wmi/object.h"

namespace lnxtest {

inline std::string Fixture(const std::string& name) { return std::string(KESTRANE_FIXTURES) + "/" + name; }

// A fixture file's bytes ("laptop/run/utmp").
inline std::string ReadFixtureFile(const std::string& rel) {
    std::ifstream f(Fixture(rel), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Every instance of a class, read to the end.
inline std::vector<wmi::Object> Collect(const std::shared_ptr<wmi::Provider>& p, const std::string& cls) {
    std::vector<wmi::Object> out;
    auto cursor = p->enumerate(cls);
    while (auto o = cursor->next()) out.push_back(std::move(*o));
    return out;
}

inline std::vector<wmi::Object> CollectIn(const std::string& fixture, const std::string& cls) {
    return Collect(wmi::MakeLinuxProvider(Fixture(fixture)), cls);
}

// The instance whose property has the given text value.
inline const wmi::Object* FindBy(const std::vector<wmi::Object>& v, const std::string& prop, const std::string& text) {
    for (const auto& o : v)
        if (o.Get(prop).isString() && o.Get(prop).asString() == text) return &o;
    return nullptr;
}

// f's verdict as an ordinary user would see it: as root, in a child that
// has become nobody first.
inline bool AsUnprivileged(const std::function<bool()>& f) {
    if (::geteuid() != 0) return f();
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && f() ? 0 : 1);
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace lnxtest
