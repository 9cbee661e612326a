#include "support/sshd_harness.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
    // sbin is often missing from PATH, and sshd and useradd live there.
    std::stringstream in(std::string(::getenv("PATH") ? ::getenv("PATH") : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(in, dir, ':');) {
        const std::string path = dir + "/" + name;
        struct stat st{};
        if (!dir.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return "";
}

// The three fds become the child's stdin, stdout and stderr; nothing else is inherited.
pid_t Launch(const std::string& path, const std::vector<std::string>& args, int in, int out, int err,
             std::string* whyNot) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in, 0);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_adddup2(&fa, err, 2);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    posix_spawnattr_t at;
    posix_spawnattr_init(&at);
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    posix_spawnattr_setsigmask(&at, &none);
    posix_spawnattr_setsigdefault(&at, &pipe);
    posix_spawnattr_setflags(&at, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int e = ::posix_spawn(&pid, path.c_str(), &fa, &at, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&at);
    if (e == 0) return pid;
    if (whyNot) *whyNot = "cannot run " + path + ": " + std::strerror(e);
    return -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string RandomString(std::size_t length, const std::string& alphabet) {
    std::random_device rd;
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string s;
    for (std::size_t i = 0; i < length; ++i) s += alphabet[pick(rd)];
    return s;
}

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(0);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// An SSH identification line tells sshd apart from another program that took the port meanwhile.
bool AnswersSsh(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback(port);
    char buf[4] = {};
    bool ok = false;
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        timeval tv{1, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ok = ::recv(s, buf, sizeof buf, MSG_WAITALL) == 4 && std::memcmp(buf, "SSH-", 4) == 0;
    }
    ::close(s);
    return ok;
}

bool ProcessExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// Every process below `root` (or only its children), parents before their children.
std::vector<pid_t> Descendants(pid_t root, bool childrenOnly = false) {
    std::multimap<pid_t, pid_t> children;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string stat = ReadFile(e.path() / "stat");
        const auto close = stat.rfind(')');  // the command name may hold spaces and ')'
        std::istringstream rest(close == std::string::npos ? "" : stat.substr(close + 1));
        std::string state;
        pid_t ppid = 0;
        if (rest >> state >> ppid && state != "Z") children.emplace(ppid, std::atoi(e.path().filename().c_str()));
    }
    std::vector<pid_t> out{root};
    for (std::size_t i = 0; i < (childrenOnly ? 1 : out.size()); ++i) {
        auto [b, e] = children.equal_range(out[i]);
        for (auto it = b; it != e; ++it) out.push_back(it->second);
    }
    out.erase(out.begin());
    return out;
}

// Processes whose environment holds exactly `entry` ("NAME=value").
std::vector<pid_t> ProcessesWithEnv(const std::string& entry) {
    std::vector<pid_t> found;
    const std::string wanted = '\0' + entry + '\0';
    for (const auto& e : fs::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(e.path().filename().c_str());
        if (pid > 0 && pid != ::getpid() && ('\0' + ReadFile(e.path() / "environ")).find(wanted) != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

void DeleteAccount(const std::string& name) {
    // The account may still own a just-killed process for a moment.
    // userdel: 6 no such user, 12 home already gone (the account itself was removed).
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int code = RunProcess({"userdel", "-r", name}, 15s).exitCode;
        if (code == 0 || code == 6 || code == 12) return;
        std::this_thread::sleep_for(100ms);
    }
}

// Accounts and temp dirs of a run that crashed before its destructor: ours by
// their prefix, left when the process named in the dir's name is gone.
void RemoveCrashLeftovers() {
    const std::string root = fs::temp_directory_path().string() + "/" + kDirPrefix;
    auto orphaned = [&](const std::string& path) {
        if (path.rfind(root, 0) != 0) return false;
        char* end;
        const long owner = std::strtol(path.c_str() + root.size(), &end, 10);
        return owner > 0 && *end == '-' && !ProcessExists(static_cast<pid_t>(owner));
    };
    std::vector<std::string> stale;
    ::setpwent();
    while (passwd* pw = ::getpwent())
        if (std::string(pw->pw_name).rfind(kAccountPrefix, 0) == 0 && orphaned(pw->pw_dir)) stale.push_back(pw->pw_name);
    ::endpwent();
    for (const auto& name : stale) DeleteAccount(name);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path(), ec))
        if (orphaned(e.path().string()) && !e.is_symlink(ec)) fs::remove_all(e.path(), ec);
}

}  // namespace

std::unique_ptr<Subprocess> Subprocess::Spawn(const std::vector<std::string>& argv, std::string* whyNot,
                                              const std::string& stdinData) {
    const std::string path = argv.empty() ? "" : FindProgram(argv[0]);
    if (path.empty()) {
        if (whyNot) *whyNot = "program not found: " + (argv.empty() ? "" : argv[0]);
        return nullptr;
    }
    // A socket rather than a pipe for stdin: send() with MSG_NOSIGNAL cannot
    // raise SIGPIPE in the test when the child exits without reading.
    int out[2], in[2] = {-1, -1};
    if (stdinData.empty())
        in[0] = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    else
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in);
    if (in[0] < 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        if (whyNot) *whyNot = std::string("pipe: ") + std::strerror(errno);
        CloseFd(in[0]);
        CloseFd(in[1]);
        return nullptr;
    }
    const pid_t pid = Launch(path, argv, in[0], out[1], out[1], whyNot);
    CloseFd(in[0]);
    CloseFd(out[1]);
    std::unique_ptr<Subprocess> p(new Subprocess);
    p->outFd_ = out[0];
    p->inFd_ = in[1];
    if (pid < 0) return nullptr;
    p->pid_ = pid;
    p->stdin_ = stdinData;
    ::fcntl(p->outFd_, F_SETFL, O_NONBLOCK);
    if (p->inFd_ >= 0) ::fcntl(p->inFd_, F_SETFL, O_NONBLOCK);
    return p;
}

Subprocess::~Subprocess() {
    if (pid_ > 0 && !exitCode_) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    CloseFd(outFd_);
    CloseFd(inFd_);
}

void Subprocess::pump(std::chrono::milliseconds maxWait) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {inFd_, POLLOUT, 0}};
    if (::poll(fds, 2, static_cast<int>(maxWait.count())) <= 0) return;
    if (fds[0].revents) {
        char buf[8192];
        ssize_t got;
        while ((got = ::read(outFd_, buf, sizeof buf)) > 0 || (got < 0 && errno == EINTR))
            if (got > 0) output_.append(buf, static_cast<std::size_t>(got));
        if (got == 0 || errno != EAGAIN) CloseFd(outFd_);
    }
    if (fds[1].revents) {
        const ssize_t put =
            ::send(inFd_, stdin_.data() + stdinSent_, stdin_.size() - stdinSent_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (put > 0) stdinSent_ += static_cast<std::size_t>(put);
        if ((put < 0 && errno != EAGAIN && errno != EINTR) || stdinSent_ == stdin_.size()) CloseFd(inFd_);
    }
}

bool Subprocess::reap() {
    if (exitCode_) return true;
    int status;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // What is still in the pipe; a grandchild holding it open must not block us.
    for (std::size_t before = ~0u; outFd_ >= 0 && output_.size() != before;) {
        before = output_.size();
        pump(0ms);
    }
    return true;
}

bool Subprocess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (output_.find(text) == std::string::npos && !reap() && Clock::now() < deadline) pump(10ms);
    return output_.find(text) != std::string::npos;
}

std::optional<int> Subprocess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!reap()) {
        if (Clock::now() >= deadline) return std::nullopt;
        pump(10ms);
    }
    return exitCode_;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::string& stdinData) {
    ProcessResult result;
    auto p = Subprocess::Spawn(argv, &result.output, stdinData);
    if (!p) return result;
    result.exitCode = p->wait(timeout).value_or(128 + SIGKILL);  // killed when p goes
    result.output = p->output();
    return result;
}

std::unique_ptr<SshServer> SshServer::Start(std::string* whyNot, const std::string& extraConfig) {
    std::string dummy;
    if (!whyNot) whyNot = &dummy;
    if (::geteuid() != 0) {
        *whyNot = "sshd needs root here (it must switch users and read its host key)";
        return nullptr;
    }
    if (FindProgram("sshd").empty() || FindProgram("ssh-keygen").empty()) {
        *whyNot = "no sshd or ssh-keygen (packages openssh-server, openssh-client)";
        return nullptr;
    }
    std::unique_ptr<SshServer> s(new SshServer);
    if (const passwd* pw = ::getpwuid(::getuid())) s->currentUser_ = pw->pw_name;
    RemoveCrashLeftovers();
    // Privilege separation chroots into this directory; it is missing until the system sshd first ran.
    ::mkdir("/run/sshd", 0755);
    // The owner's pid in the name tells a crashed run's leftovers from a parallel live one.
    std::string pattern = fs::temp_directory_path().string() + "/" + kDirPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        *whyNot = "mkdtemp " + pattern + ": " + std::strerror(errno);
        return nullptr;
    }
    s->dir_ = pattern;
    s->extraConfig_ = extraConfig;
    // The throwaway account's home is inside: it must be able to pass through.
    ::chmod(s->dir_.c_str(), 0711);
    const std::string dotSsh = s->clientHome() + "/.ssh";
    std::error_code ec;
    fs::create_directories(dotSsh, ec);
    fs::permissions(dotSsh, fs::perms::owner_all, ec);
    const ProcessResult key = RunProcess({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dotSsh + "/id_ed25519"});
    if (key.exitCode != 0) {
        *whyNot = "ssh-keygen failed: " + key.output;
        return nullptr;
    }
    fs::copy_file(dotSsh + "/id_ed25519.pub", s->dir_ + "/authorized_keys", ec);
    if (!s->makeHostKey(whyNot)) return nullptr;
    // From 9.8 on sshd penalises addresses whose connections fail or close early;
    // tests that log in with wrong passwords on purpose would lock out 127.0.0.1.
    int major = 0, minor = 0;
    const std::string version = RunProcess({"sshd", "-V"}, 10s).output;
    if (const auto at = version.find("OpenSSH_"); at != std::string::npos)
        std::sscanf(version.c_str() + at, "OpenSSH_%d.%d", &major, &minor);
    s->penaltiesOption_ = major > 9 || (major == 9 && minor >= 8);
    // Another program may take the chosen port before sshd binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        s->port_ = FreePort();
        if (s->launch(whyNot)) return s;
    }
    *whyNot = "sshd did not start: " + *whyNot;
    return nullptr;
}

bool SshServer::makeHostKey(std::string* whyNot) {
    const std::string key = dir_ + "/host_key";
    fs::remove(key);
    fs::remove(key + ".pub");
    const ProcessResult gen = RunProcess({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key});
    std::istringstream fields(RunProcess({"ssh-keygen", "-lf", key + ".pub"}).output);
    std::string bits;
    fingerprint_.clear();
    fields >> bits >> fingerprint_;
    if (gen.exitCode != 0 || fingerprint_.rfind("SHA256:", 0) != 0) {
        *whyNot = "ssh-keygen failed: " + gen.output;
        return false;
    }
    return true;
}

bool SshServer::launch(std::string* whyNot) {
    std::string head, tail;
    std::istringstream extra(extraConfig_);
    for (std::string line, word; std::getline(extra, line);) {
        std::istringstream(line) >> word;
        std::transform(word.begin(), word.end(), word.begin(), ::tolower);
        (tail.empty() && word != "match" ? head : tail) += line + "\n";
    }
    const std::string path = dir_ + "/sshd_config";
    std::ofstream(path) << head << "Port " << port_ << "\nListenAddress 127.0.0.1\nHostKey " << dir_
                        << "/host_key\nPidFile " << dir_ << "/sshd.pid\nUsePAM no\nStrictModes no\n"
                        << "PasswordAuthentication yes\nPubkeyAuthentication yes\nPermitRootLogin yes\n"
                        << "AuthorizedKeysFile " << dir_ << "/authorized_keys\nKbdInteractiveAuthentication no\n"
                        << "LogLevel VERBOSE\n"
                        << (penaltiesOption_ ? "PerSourcePenalties no\n" : "")
                        // Marks the commands run in sessions, which outlive a dropped connection.
                        << "SetEnv " << kSessionTag << "=" << dir_ << "\n"
                        << tail;
    const std::size_t logStart = log().size();
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out = ::open((dir_ + "/sshd.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    // stderr goes to the log too: config errors are printed before -E takes effect.
    // sshd re-executes itself per connection and insists on an absolute path.
    pid_ = Launch(FindProgram("sshd"), {FindProgram("sshd"), "-D", "-f", path, "-E", dir_ + "/sshd.log"}, in, out,
                  out, whyNot);
    CloseFd(in);
    CloseFd(out);
    for (const auto deadline = Clock::now() + 5s; pid_ > 0 && Clock::now() < deadline;) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            *whyNot = log().substr(logStart);
            return false;
        }
        if (AnswersSsh(port_)) return true;
        std::this_thread::sleep_for(20ms);
    }
    *whyNot = "no SSH banner on port " + std::to_string(port_) + " within 5 s; " + log().substr(logStart);
    stop();
    return false;
}

void SshServer::stop() {
    if (pid_ <= 0) return;
    const std::string tag = std::string(kSessionTag) + "=" + dir_;
    auto killAll = [](const std::vector<pid_t>& pids) {
        for (auto it = pids.rbegin(); it != pids.rend(); ++it) ::kill(*it, SIGKILL);
        std::this_thread::sleep_for(10ms);
    };
    // Sessions' commands first, while their sshd parents can still reap them.
    for (int round = 0; round < 5 && !ProcessesWithEnv(tag).empty(); ++round) killAll(ProcessesWithEnv(tag));
    // On SIGTERM each connection's sshd passes the signal on to its
    // privilege-separated child and exits, and the listener reaps it.
    for (pid_t c : Descendants(pid_, true)) ::kill(c, SIGTERM);
    for (auto t = Clock::now() + 1s; !Descendants(pid_).empty() && Clock::now() < t;) std::this_thread::sleep_for(10ms);
    for (int round = 0; round < 5 && !Descendants(pid_).empty(); ++round) killAll(Descendants(pid_));
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    killAll(ProcessesWithEnv(tag));
}

SshServer::~SshServer() {
    stop();
    if (!account_.empty()) DeleteAccount(account_);
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

void SshServer::replaceHostKey() {
    stop();
    std::string reason;
    // The old listener is gone and sshd binds with SO_REUSEADDR, so the port is normally free at once.
    for (int attempt = 0; attempt < 5 && makeHostKey(&reason); ++attempt) {
        if (launch(&reason)) return;
        std::this_thread::sleep_for(200ms);
    }
    std::fprintf(stderr, "SshServer::replaceHostKey: sshd did not restart on port %d: %s\n", port_, reason.c_str());
}

std::string SshServer::passwordUser() {
    if (!accountTried_) {
        accountTried_ = true;
        const std::string lower = "abcdefghijklmnopqrstuvwxyz0123456789";
        // Parallel test processes may hold the passwd lock for a moment.
        for (int attempt = 0; attempt < 5 && account_.empty(); ++attempt) {
            const std::string name = kAccountPrefix + RandomString(8, lower);
            if (RunProcess({"useradd", "-m", "-d", dir_ + "/home-" + name, "-s", "/bin/sh", name}, 15s).exitCode == 0)
                account_ = name;
            else
                std::this_thread::sleep_for(100ms);
        }
        const std::string password = RandomString(24, lower + "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        for (int set = 0; set < 5 && !account_.empty() && accountPassword_.empty(); ++set) {
            if (RunProcess({"chpasswd"}, 15s, account_ + ":" + password + "\n").exitCode == 0)
                accountPassword_ = password;
            else
                std::this_thread::sleep_for(100ms);
        }
    }
    return accountPassword_.empty() ? "" : account_;
}

std::string SshServer::password() {
    passwordUser();
    return accountPassword_;
}

std::string SshServer::log() const { return ReadFile(dir_ + "/sshd.log"); }

}  // namespace kestrane::testing
