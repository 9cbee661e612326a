#include "support/sshd_harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

extern char** environ;

namespace kestrane::testing {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr const char* kAccountPrefix = "kestranetest";
constexpr const char* kDirPrefix = "kestrane-sshd-";
constexpr const char* kSessionTag = "KESTRANE_TEST_SSHD";

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
    std::string dirs = ::getenv("PATH") ? ::getenv("PATH") : "/usr/bin:/bin";
    // sbin is often missing from PATH, and sshd, useradd and friends live there.
    dirs += ":/usr/local/sbin:/usr/sbin:/sbin";
    std::stringstream in(dirs);
    for (std::string dir; std::getline(in, dir, ':');) {
        if (dir.empty() || dir[0] != '/') continue;
        const std::string path = dir + "/" + name;
        struct stat st{};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

// fork+exec with the three given fds as the child's stdin/stdout/stderr and no
// other fd inherited. Only async-signal-safe calls happen between fork and exec,
// as other threads (a TcpForwarder) may be running.
pid_t Launch(const std::string& path, const std::vector<std::string>& args, int in, int out, int err,
             int deathSignal, std::string* whyNot) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const long openMax = std::clamp(::sysconf(_SC_OPEN_MAX), 256L, 65536L);

    int report[2];  // carries exec's errno back; closes by itself when exec succeeds
    if (::pipe2(report, O_CLOEXEC) != 0) {
        if (whyNot) *whyNot = std::string("pipe: ") + std::strerror(errno);
        return -1;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        if (whyNot) *whyNot = std::string("fork: ") + std::strerror(errno);
        ::close(report[0]);
        ::close(report[1]);
        return -1;
    }
    if (pid == 0) {
        int e = 0;
        int rep = -1;
        ::prctl(PR_SET_PDEATHSIG, deathSignal);
        if (::getppid() != parent) ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl{};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        // Move every fd we keep above 2 first: with a closed stdin in the
        // parent, one of them may itself be 0, 1 or 2.
        const int src[3] = {in, out, err};
        int moved[3];
        rep = ::fcntl(report[1], F_DUPFD_CLOEXEC, 3);
        for (int i = 0; i < 3; ++i) {
            moved[i] = ::fcntl(src[i], F_DUPFD_CLOEXEC, 3);
            if (moved[i] < 0) goto fail;
        }
        for (int i = 0; i < 3; ++i)
            if (::dup2(moved[i], i) < 0) goto fail;
        {
            bool closed = false;
#ifdef SYS_close_range
            closed = (rep == 3 || ::syscall(SYS_close_range, 3U, static_cast<unsigned>(rep - 1), 0U) == 0) &&
                     ::syscall(SYS_close_range, static_cast<unsigned>(rep + 1), ~0U, 0U) == 0;
#endif
            for (long fd = 3; !closed && fd < openMax; ++fd)
                if (fd != rep) ::close(static_cast<int>(fd));
        }
        ::execve(path.c_str(), argv.data(), environ);
    fail:
        e = errno;
        if (rep >= 0) (void)!::write(rep, &e, sizeof e);
        ::_exit(127);
    }
    ::close(report[1]);
    int e = 0;
    ssize_t n;
    do n = ::read(report[0], &e, sizeof e);
    while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n > 0) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (whyNot) *whyNot = "cannot run " + path + ": " + std::strerror(e);
        return -1;
    }
    return pid;
}

int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = ::fchmod(fd, mode) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

std::string RandomString(std::size_t length, const std::string& alphabet) {
    std::random_device rd;
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string s;
    for (std::size_t i = 0; i < length; ++i) s += alphabet[pick(rd)];
    return s;
}

std::string TempRoot() {
    std::error_code ec;
    std::string root = fs::temp_directory_path(ec).lexically_normal().string();
    if (ec || root.empty()) root = "/tmp";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(s);
    return port;
}

// True once something on the port sends an SSH identification line, which
// tells sshd apart from another program that took the port meanwhile.
bool AnswersSsh(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        timeval tv{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char buf[4];
        std::size_t got = 0;
        while (got < sizeof buf) {
            const ssize_t n = ::recv(s, buf + got, sizeof buf - got, 0);
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        ok = got == sizeof buf && std::memcmp(buf, "SSH-", 4) == 0;
    }
    ::close(s);
    return ok;
}

bool ProcessExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

struct Descendant {
    pid_t pid;
    int depth;  // 1 for a child of the root
};

// Every process below `root`, parents before their children, read from /proc
// while the tree is still intact.
std::vector<Descendant> Descendants(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            char* end;
            const long pid = std::strtol(e->d_name, &end, 10);
            if (*end != '\0' || pid <= 0) continue;
            const std::string stat = ReadFile("/proc/" + std::string(e->d_name) + "/stat");
            // The command name in parentheses may hold spaces and ')'.
            const auto close = stat.rfind(')');
            if (close == std::string::npos) continue;
            std::istringstream rest(stat.substr(close + 1));
            std::string state;
            long ppid = 0;
            if (rest >> state >> ppid && state != "Z")
                children.emplace(static_cast<pid_t>(ppid), static_cast<pid_t>(pid));
        }
        ::closedir(d);
    }
    std::vector<Descendant> out;
    std::vector<Descendant> level{{root, 0}};
    while (!level.empty()) {
        std::vector<Descendant> next;
        for (const auto& parent : level) {
            auto [b, e] = children.equal_range(parent.pid);
            for (auto it = b; it != e; ++it) next.push_back({it->second, parent.depth + 1});
        }
        out.insert(out.end(), next.begin(), next.end());
        level = std::move(next);
    }
    return out;
}

// Processes whose environment holds exactly `entry` ("NAME=value").
std::vector<pid_t> ProcessesWithEnv(const std::string& entry) {
    std::vector<pid_t> found;
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            char* end;
            const long pid = std::strtol(e->d_name, &end, 10);
            if (*end != '\0' || pid <= 0 || pid == ::getpid()) continue;
            const std::string env = ReadFile("/proc/" + std::string(e->d_name) + "/environ");
            std::size_t pos = 0;
            while ((pos = env.find(entry, pos)) != std::string::npos) {
                const std::size_t after = pos + entry.size();
                if ((pos == 0 || env[pos - 1] == '\0') && (after == env.size() || env[after] == '\0')) {
                    found.push_back(static_cast<pid_t>(pid));
                    break;
                }
                pos = after;
            }
        }
        ::closedir(d);
    }
    return found;
}

bool DeleteAccount(const std::string& name) {
    // The account may still own a just-killed process for a moment.
    for (int attempt = 0; attempt < 10; ++attempt) {
        const ProcessResult r = RunProcess({"userdel", "-r", name}, 15s);
        // 6: no such user. 12: home already gone, the account itself was removed.
        if (r.exitCode == 0 || r.exitCode == 6 || r.exitCode == 12) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// Accounts (and temp dirs) left by a run that crashed before its destructor. Only names with
// our prefix whose home is under the temp dir qualify, and not while the
// process named in the home's path (a parallel test) is still alive.
void RemoveCrashLeftovers() {
    const std::string root = TempRoot() + "/";
    std::vector<std::string> stale;
    ::setpwent();
    while (passwd* pw = ::getpwent()) {
        const std::string name = pw->pw_name ? pw->pw_name : "";
        const std::string home = pw->pw_dir ? pw->pw_dir : "";
        if (name.rfind(kAccountPrefix, 0) != 0 || home.rfind(root, 0) != 0 || home.find("/../") != std::string::npos)
            continue;
        const std::string below = home.substr(root.size());
        if (below.rfind(kDirPrefix, 0) == 0) {
            const long owner = std::strtol(below.c_str() + std::strlen(kDirPrefix), nullptr, 10);
            if (owner > 0 && ProcessExists(static_cast<pid_t>(owner))) continue;
        }
        stale.push_back(name);
    }
    ::endpwent();
    for (const auto& name : stale) DeleteAccount(name);

    // Their temp dirs too, named by a process that is gone.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(TempRoot(), ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kDirPrefix, 0) != 0 || !entry.is_directory(ec) || entry.is_symlink(ec)) continue;
        char* end;
        const long owner = std::strtol(name.c_str() + std::strlen(kDirPrefix), &end, 10);
        if (owner <= 0 || *end != '-' || ProcessExists(static_cast<pid_t>(owner))) continue;
        fs::remove_all(entry.path(), ec);
    }
}

std::string LastLines(const std::string& text, std::size_t count) {
    std::size_t pos = text.size();
    while (count-- > 0 && pos > 0) {
        pos = text.rfind('\n', pos - 1);
        if (pos == std::string::npos) return text;
    }
    return text.substr(pos + 1);
}

}  // namespace

// ---------------------------------------------------------------- Subprocess

std::unique_ptr<Subprocess> Subprocess::Spawn(const std::vector<std::string>& argv, std::string* whyNot,
                                              const std::string& stdinData) {
    if (argv.empty()) {
        if (whyNot) *whyNot = "no program";
        return nullptr;
    }
    const std::string path = FindProgram(argv[0]);
    if (path.empty()) {
        if (whyNot) *whyNot = "program not found: " + argv[0];
        return nullptr;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        if (whyNot) *whyNot = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    // A socket rather than a pipe for stdin: send() with MSG_NOSIGNAL cannot
    // raise SIGPIPE in the test when the child exits without reading.
    int in[2] = {-1, -1};
    if (stdinData.empty()) {
        in[0] = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    } else if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0) {
        in[0] = in[1] = -1;
    }
    if (in[0] < 0) {
        if (whyNot) *whyNot = std::string("stdin: ") + std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return nullptr;
    }
    const pid_t pid = Launch(path, argv, in[0], out[1], out[1], SIGKILL, whyNot);
    ::close(in[0]);
    ::close(out[1]);
    if (pid < 0) {
        ::close(out[0]);
        if (in[1] >= 0) ::close(in[1]);
        return nullptr;
    }
    std::unique_ptr<Subprocess> p(new Subprocess);
    p->pid_ = pid;
    p->outFd_ = out[0];
    p->inFd_ = in[1];
    p->stdin_ = stdinData;
    ::fcntl(p->outFd_, F_SETFL, O_NONBLOCK);
    if (p->inFd_ >= 0) ::fcntl(p->inFd_, F_SETFL, O_NONBLOCK);
    return p;
}

Subprocess::~Subprocess() {
    if (!exitCode_) {
        ::kill(pid_, SIGKILL);
        int status;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    CloseFd(outFd_);
    CloseFd(inFd_);
}

void Subprocess::pump(std::chrono::milliseconds maxWait) {
    pollfd fds[2];
    nfds_t n = 0;
    if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
    if (inFd_ >= 0) fds[n++] = {inFd_, POLLOUT, 0};
    if (n == 0) {
        std::this_thread::sleep_for(maxWait);
        return;
    }
    if (::poll(fds, n, static_cast<int>(maxWait.count())) <= 0) return;
    for (nfds_t i = 0; i < n; ++i) {
        if (fds[i].fd == outFd_ && fds[i].revents) {
            char buf[8192];
            for (;;) {
                const ssize_t got = ::read(outFd_, buf, sizeof buf);
                if (got > 0) {
                    output_.append(buf, static_cast<std::size_t>(got));
                    continue;
                }
                if (got == 0 || (errno != EINTR && errno != EAGAIN)) CloseFd(outFd_);
                if (got < 0 && errno == EINTR) continue;
                break;
            }
        } else if (fds[i].fd == inFd_ && fds[i].revents) {
            const ssize_t put =
                ::send(inFd_, stdin_.data() + stdinSent_, stdin_.size() - stdinSent_, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (put > 0) stdinSent_ += static_cast<std::size_t>(put);
            if ((put < 0 && errno != EAGAIN && errno != EINTR) || stdinSent_ == stdin_.size()) CloseFd(inFd_);
        }
    }
}

bool Subprocess::reap() {
    if (exitCode_) return true;
    int status;
    pid_t r;
    do r = ::waitpid(pid_, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid_) return false;
    exitCode_ = ExitCode(status);
    // Output still buffered in the pipe; a grandchild holding it open must not block us.
    for (int i = 0; i < 1000 && outFd_ >= 0; ++i) {
        const std::size_t before = output_.size();
        pump(0ms);
        if (output_.size() == before) break;
    }
    return true;
}

bool Subprocess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (output_.find(text) != std::string::npos) return true;
        if (reap() || Clock::now() >= deadline) return output_.find(text) != std::string::npos;
        pump(10ms);
    }
}

std::optional<int> Subprocess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!reap()) {
        if (Clock::now() >= deadline) return std::nullopt;
        pump(outFd_ >= 0 ? 10ms : 5ms);
    }
    return exitCode_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::string& stdinData) {
    ProcessResult result;
    std::string whyNot;
    auto p = Subprocess::Spawn(argv, &whyNot, stdinData);
    if (!p) {
        result.output = whyNot;
        return result;
    }
    if (auto code = p->wait(timeout)) {
        result.exitCode = *code;
    } else {
        result.timedOut = true;
        ::kill(p->pid(), SIGKILL);
        result.exitCode = p->wait(5s).value_or(-1);
    }
    result.output = p->output();
    return result;
}

// ----------------------------------------------------------------- SshServer

std::unique_ptr<SshServer> SshServer::Start(std::string* whyNot, const std::string& extraConfig) {
    std::string dummy;
    if (!whyNot) whyNot = &dummy;
    if (::geteuid() != 0) {
        *whyNot = "sshd needs root here (it must switch users and read its host key)";
        return nullptr;
    }
    std::unique_ptr<SshServer> s(new SshServer);
    // sshd re-executes itself per connection and insists on an absolute path.
    s->sshd_ = FindProgram("sshd");
    s->keygen_ = FindProgram("ssh-keygen");
    if (s->sshd_.empty()) {
        *whyNot = "no sshd binary (package openssh-server)";
        return nullptr;
    }
    if (s->keygen_.empty()) {
        *whyNot = "no ssh-keygen binary (package openssh-client)";
        return nullptr;
    }
    if (const passwd* pw = ::getpwuid(::getuid())) s->currentUser_ = pw->pw_name;
    if (s->currentUser_.empty()) {
        *whyNot = "the current uid has no passwd entry";
        return nullptr;
    }
    RemoveCrashLeftovers();

    // Privilege separation chroots into this directory; it is missing until the system sshd first ran.
    if (::mkdir("/run/sshd", 0755) != 0 && errno != EEXIST) {
        *whyNot = std::string("cannot create /run/sshd: ") + std::strerror(errno);
        return nullptr;
    }

    // The owner's pid in the name tells a crashed run's leftovers from a parallel live one.
    std::string pattern = TempRoot() + "/" + kDirPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        *whyNot = "mkdtemp " + pattern + ": " + std::strerror(errno);
        return nullptr;
    }
    s->dir_ = pattern;
    // The throwaway account's home is inside: it must be able to pass through.
    ::chmod(s->dir_.c_str(), 0711);
    s->extraConfig_ = extraConfig;
    s->configPath_ = s->dir_ + "/sshd_config";
    s->hostKey_ = s->dir_ + "/ssh_host_ed25519_key";
    s->logPath_ = s->dir_ + "/sshd.log";
    s->clientHome_ = s->dir_ + "/client";

    const std::string dotSsh = s->clientHome_ + "/.ssh";
    if (::mkdir(s->clientHome_.c_str(), 0755) != 0 || ::mkdir(dotSsh.c_str(), 0700) != 0 ||
        ::chmod(dotSsh.c_str(), 0700) != 0) {
        *whyNot = "cannot create " + dotSsh + ": " + std::strerror(errno);
        return nullptr;
    }
    const ProcessResult clientKey = RunProcess(
        {s->keygen_, "-q", "-t", "ed25519", "-N", "", "-C", "kestrane-test-client", "-f", dotSsh + "/id_ed25519"});
    if (clientKey.exitCode != 0) {
        *whyNot = "ssh-keygen failed: " + clientKey.output;
        return nullptr;
    }
    if (!WriteFile(s->dir_ + "/authorized_keys", ReadFile(dotSsh + "/id_ed25519.pub"), 0644)) {
        *whyNot = "cannot write authorized_keys";
        return nullptr;
    }
    if (!s->makeHostKey(whyNot)) return nullptr;

    // From 9.8 on sshd penalises addresses whose connections fail or close early; tests
    // that log in with wrong passwords on purpose would lock out 127.0.0.1.
    const std::string version = RunProcess({s->sshd_, "-V"}, 10s).output;
    if (const auto at = version.find("OpenSSH_"); at != std::string::npos) {
        int major = 0, minor = 0;
        if (std::sscanf(version.c_str() + at, "OpenSSH_%d.%d", &major, &minor) == 2)
            s->penaltiesOption_ = major > 9 || (major == 9 && minor >= 8);
    }

    // Another program may take the chosen port before sshd binds it.
    std::string reason;
    for (int attempt = 0; attempt < 3; ++attempt) {
        s->port_ = FreePort();
        if (s->port_ != 0 && s->launch(&reason)) return s;
    }
    *whyNot = "sshd did not start: " + reason;
    return nullptr;
}

bool SshServer::makeHostKey(std::string* whyNot) {
    std::error_code ec;
    fs::remove(hostKey_, ec);
    fs::remove(hostKey_ + ".pub", ec);
    const ProcessResult gen =
        RunProcess({keygen_, "-q", "-t", "ed25519", "-N", "", "-C", "kestrane-test-host", "-f", hostKey_});
    if (gen.exitCode != 0) {
        if (whyNot) *whyNot = "ssh-keygen failed: " + gen.output;
        return false;
    }
    const ProcessResult fp = RunProcess({keygen_, "-lf", hostKey_ + ".pub"});
    std::istringstream fields(fp.output);
    std::string bits;
    fingerprint_.clear();
    fields >> bits >> fingerprint_;
    if (fp.exitCode != 0 || fingerprint_.rfind("SHA256:", 0) != 0) {
        if (whyNot) *whyNot = "ssh-keygen -lf failed: " + fp.output;
        return false;
    }
    return true;
}

bool SshServer::launch(std::string* whyNot) {
    std::string head, tail;
    {
        std::istringstream in(extraConfig_);
        bool inMatch = false;
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string keyword;
            words >> keyword;
            for (char& c : keyword) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            inMatch = inMatch || keyword == "match";
            (inMatch ? tail : head) += line + "\n";
        }
    }
    std::string config = head;
    config += "Port " + std::to_string(port_) + "\n";
    config += "ListenAddress 127.0.0.1\n";
    config += "HostKey " + hostKey_ + "\n";
    config += "PidFile " + dir_ + "/sshd.pid\n";
    config += "UsePAM no\n";
    config += "StrictModes no\n";
    config += "PasswordAuthentication yes\n";
    config += "PubkeyAuthentication yes\n";
    config += "PermitRootLogin yes\n";
    config += "AuthorizedKeysFile " + dir_ + "/authorized_keys\n";
    config += "KbdInteractiveAuthentication no\n";
    // Logs which key and user were accepted, useful in failure messages.
    config += "LogLevel VERBOSE\n";
    if (penaltiesOption_) config += "PerSourcePenalties no\n";
    // Marks the commands run in sessions, which outlive a dropped connection and leave sshd's tree.
    config += std::string("SetEnv ") + kSessionTag + "=" + dir_ + "\n";
    config += tail;
    if (!WriteFile(configPath_, config, 0644)) {
        if (whyNot) *whyNot = "cannot write " + configPath_;
        return false;
    }

    const std::size_t logStart = log().size();
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (in < 0 || out < 0) {
        if (whyNot) *whyNot = "cannot open " + logPath_;
        CloseFd(in);
        CloseFd(out);
        return false;
    }
    // stderr goes to the log too: config errors are printed before -E takes effect.
    pid_ = Launch(sshd_, {sshd_, "-D", "-f", configPath_, "-E", logPath_}, in, out, out, SIGTERM, whyNot);
    CloseFd(in);
    CloseFd(out);
    if (pid_ < 0) return false;

    const auto deadline = Clock::now() + 5s;
    while (Clock::now() < deadline) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            if (whyNot) *whyNot = LastLines(log().substr(logStart), 5);
            return false;
        }
        if (AnswersSsh(port_)) return true;
        std::this_thread::sleep_for(20ms);
    }
    if (whyNot) *whyNot = "no SSH banner on port " + std::to_string(port_) + " within 5 s; " + LastLines(log(), 5);
    stop();
    return false;
}

void SshServer::stop() {
    if (pid_ <= 0) return;
    const std::string tag = std::string(kSessionTag) + "=" + dir_;
    auto killTagged = [&] {
        for (int round = 0; round < 5; ++round) {
            const auto left = ProcessesWithEnv(tag);
            if (left.empty()) break;
            for (const pid_t p : left) ::kill(p, SIGKILL);
            std::this_thread::sleep_for(10ms);
        }
    };
    // Killed from the bottom up, each process still has its sshd parent to
    // reap it; orphans would linger as zombies until init gets to them.
    killTagged();
    // Connection children start sessions of their own, so a process group would
    // miss them. On SIGTERM each passes the signal to its privilege-separated
    // child and exits, and the listener reaps it.
    for (const auto& d : Descendants(pid_))
        if (d.depth == 1) ::kill(d.pid, SIGTERM);
    const auto graceful = Clock::now() + 1s;
    while (!Descendants(pid_).empty() && Clock::now() < graceful) std::this_thread::sleep_for(10ms);
    for (int round = 0; round < 5; ++round) {
        auto below = Descendants(pid_);
        if (below.empty()) break;
        std::reverse(below.begin(), below.end());
        for (const auto& d : below) ::kill(d.pid, SIGKILL);
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + 3s;
    int status;
    pid_t r;
    while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    if (r == 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    killTagged();
}

SshServer::~SshServer() {
    stop();
    if (!accountName_.empty()) DeleteAccount(accountName_);
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
}

void SshServer::replaceHostKey() {
    stop();
    std::string reason;
    if (makeHostKey(&reason)) {
        // The old listener is gone and sshd binds with SO_REUSEADDR, so the port is normally free at once.
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (launch(&reason)) return;
            std::this_thread::sleep_for(200ms);
        }
    }
    std::fprintf(stderr, "SshServer::replaceHostKey: sshd did not restart on port %d: %s\n", port_, reason.c_str());
}

void SshServer::makeAccount() {
    accountTried_ = true;
    if (::geteuid() != 0) return;
    const std::string lower = "abcdefghijklmnopqrstuvwxyz0123456789";
    // Parallel test processes may hold the passwd lock for a moment.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::string name = kAccountPrefix + RandomString(8, lower);
        const ProcessResult add = RunProcess(
            {"useradd", "-m", "-d", dir_ + "/home-" + name, "-s", "/bin/sh", "-c", "Kestrane test", name}, 15s);
        if (add.exitCode != 0) {
            std::this_thread::sleep_for(100ms);
            continue;
        }
        accountName_ = name;
        const std::string password = RandomString(24, lower + "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        for (int set = 0; set < 5; ++set) {
            if (RunProcess({"chpasswd"}, 15s, name + ":" + password + "\n").exitCode == 0) {
                accountPassword_ = password;
                return;
            }
            std::this_thread::sleep_for(100ms);
        }
        DeleteAccount(name);
        accountName_.clear();
        return;
    }
}

std::string SshServer::passwordUser() {
    if (!accountTried_) makeAccount();
    return accountPassword_.empty() ? "" : accountName_;
}

std::string SshServer::password() {
    if (!accountTried_) makeAccount();
    return accountPassword_;
}

std::string SshServer::log() const { return ReadFile(logPath_); }

}  // namespace kestrane::testing
