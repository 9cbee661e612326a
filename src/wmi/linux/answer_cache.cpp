#include "wmi/linux/answer_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace wmi::lnx {

namespace {

std::atomic<bool> gKeep{false};
constexpr const char* kHeader = "kestrane answer 1";
constexpr std::size_t kMaxFile = 4096;

// $XDG_CACHE_HOME/kestrane, else ~/.cache/kestrane; only absolute bases.
std::optional<std::string> CacheDir() {
    if (!gKeep) return std::nullopt;
    if (const char* x = std::getenv("XDG_CACHE_HOME"); x && x[0] == '/') return std::string(x) + "/kestrane";
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return std::string(h) + "/.cache/kestrane";
    return std::nullopt;
}

bool SafeName(const std::string& s) {
    if (s.empty() || s.size() > 64) return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return true;
}

bool OneLine(const std::string& s) { return s.size() < 1024 && s.find_first_of("\n\r") == std::string::npos; }

}  // namespace

void KeepAnswersBetweenRuns(bool on) { gKeep = on; }

std::optional<std::string> CachedAnswer(const std::string& name, const std::string& stamp) {
    auto dir = CacheDir();
    if (!dir || !SafeName(name)) return std::nullopt;
    int fd = ::open((*dir + "/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::string text(kMaxFile + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got > kMaxFile) return std::nullopt;
    text.resize(got);
    // Exactly three lines: header, stamp, answer. Anything else is ignored
    // and replaced by the next store.
    const std::string want = std::string(kHeader) + "\n" + stamp + "\n";
    if (text.compare(0, want.size(), want) != 0 || text.empty() || text.back() != '\n') return std::nullopt;
    std::string answer = text.substr(want.size(), text.size() - want.size() - 1);
    if (!OneLine(answer)) return std::nullopt;
    return answer;
}

void StoreAnswer(const std::string& name, const std::string& stamp, const std::string& answer) {
    auto dir = CacheDir();
    if (!dir || !SafeName(name) || !OneLine(stamp) || !OneLine(answer)) return;
    // ~/.cache may not exist yet; only the last two levels are made here.
    ::mkdir(dir->substr(0, dir->rfind('/')).c_str(), 0700);
    ::mkdir(dir->c_str(), 0700);
    std::string tmp = *dir + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return;
    const std::string text = std::string(kHeader) + "\n" + stamp + "\n" + answer + "\n";
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = (::close(fd) == 0) && ok;
    // A reader sees the old answer or the new one, never half of one.
    if (!ok || ::rename(tmp.c_str(), (*dir + "/" + name).c_str()) != 0) ::unlink(tmp.c_str());
}

}  // namespace wmi::lnx
