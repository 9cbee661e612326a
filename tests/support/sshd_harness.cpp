#include "support/sshd_harness.h"

#include "support/tcp_forwarder.h"

#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    // sbin is often missing from PATH, and sshd and useradd live there.
    std::stringstream in(std::string(::getenv("PATH") ? ::getenv("PATH") : "/usr/bin:/bin") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(in, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return dir + "/" + name;
    return "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string RandomString(std::size_t length) {
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::string s;
    while (s.size() < length) s += alphabet[rd() % alphabet.size()];
    return s;
}

// Processes whose /proc/PID/`file`, cut at `sep`, holds the entry `entry`.
std::vector<pid_t> Processes(const char* file, char sep, const std::string& entry) {
    std::vector<pid_t> found;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const pid_t pid = std::atoi(e.path().filename().c_str());
        if (pid > 0 && pid != ::getpid() && (sep + ReadFile(e.path() / file)).find(sep + entry + sep) != std::string::npos)
            found.push_back(pid);
    }
    return found;
}

// Runs argv until it exits with a code of `ok`: other test processes may hold
// the passwd lock for a moment, and the account a just-killed process.
bool Retry(const std::vector<std::string>& argv, const std::string& input = "", std::vector<int> ok = {0}) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (std::ranges::count(ok, RunProcess(argv, 15s, input).exitCode)) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// userdel: 6 no such user, 12 home already gone (the account itself was removed).
void DeleteAccount(const std::string& name) { Retry({"userdel", "-r", name}, "", {0, 6, 12}); }

// Accounts and temp dirs of a run that crashed before its destructor: ours by
// their prefix, left when the process named in the dir's name is gone.
void RemoveCrashLeftovers() {
    const std::string root = fs::temp_directory_path().string() + "/" + kDirPrefix;
    auto orphaned = [&](const std::string& path) {
        const long owner = path.rfind(root, 0) == 0 ? std::atol(path.c_str() + root.size()) : 0;
        return owner > 0 && ::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH;
    };
    std::vector<std::string> stale;
    ::setpwent();
    while (passwd* pw = ::getpwent())
        if (std::string(pw->pw_name).rfind(kAccountPrefix, 0) == 0 && orphaned(pw->pw_dir)) stale.push_back(pw->pw_name);
    ::endpwent();
    for (const auto& name : stale) DeleteAccount(name);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path(), ec))
        if (orphaned(e.path().string())) fs::remove_all(e.path(), ec);
}

}  // namespace

std::unique_ptr<Subprocess> Subprocess::Spawn(const std::vector<std::string>& argv, std::string* whyNot,
                                              const std::string& stdinData) {
    std::string ignored;
    std::string& why = whyNot ? *whyNot : ignored;
    const std::string path = argv.empty() ? "" : FindProgram(argv[0]);
    if (path.empty()) {
        why = "program not found: " + (argv.empty() ? "" : argv[0]);
        return nullptr;
    }
    std::unique_ptr<Subprocess> p(new Subprocess);
    p->outFd_ = ::memfd_create("output", MFD_CLOEXEC);
    const int in = ::memfd_create("input", MFD_CLOEXEC);
    if (::write(in, stdinData.data(), stdinData.size()) < 0 || ::lseek(in, 0, SEEK_SET) != 0 || p->outFd_ < 0) {
        why = std::string("memfd: ") + std::strerror(errno);
        ::close(in);
        return nullptr;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    // The two files become the child's stdin, stdout and stderr; nothing else is inherited.
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in, 0);
    posix_spawn_file_actions_adddup2(&fa, p->outFd_, 1);
    posix_spawn_file_actions_adddup2(&fa, p->outFd_, 2);
    posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    pid_t pid = -1;
    const int e = ::posix_spawn(&pid, path.c_str(), &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(in);
    if (e != 0) {
        why = "cannot run " + path + ": " + std::strerror(e);
        return nullptr;
    }
    p->pid_ = pid;
    return p;
}

Subprocess::~Subprocess() {
    if (pid_ > 0 && !exitCode_) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (outFd_ >= 0) ::close(outFd_);
}

std::string Subprocess::output() const {
    std::string out;
    char buf[65536];
    for (ssize_t got; (got = ::pread(outFd_, buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
        out.append(buf, static_cast<std::size_t>(got));
    return out;
}

bool Subprocess::reap() {
    int status;
    if (!exitCode_ && ::waitpid(pid_, &status, WNOHANG) == pid_)
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitCode_.has_value();
}

bool Subprocess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    for (const auto deadline = Clock::now() + timeout;; std::this_thread::sleep_for(10ms)) {
        const bool ended = reap();  // before reading, so that an ended process's output is whole
        if (output().find(text) != std::string::npos) return true;
        if (ended || Clock::now() >= deadline) return false;
    }
}

std::optional<int> Subprocess::wait(std::chrono::milliseconds timeout) {
    for (const auto deadline = Clock::now() + timeout; !reap(); std::this_thread::sleep_for(2ms))
        if (Clock::now() >= deadline) return std::nullopt;
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
    std::string ignored;
    std::string& why = whyNot ? *whyNot : ignored;
    const std::string sshd = FindProgram("sshd");
    if (::geteuid() != 0 || sshd.empty() || FindProgram("ssh-keygen").empty()) {
        why = "sshd needs root here (it must switch users and read its host key), and the packages "
              "openssh-server and openssh-client";
        return nullptr;
    }
    RemoveCrashLeftovers();
    // Privilege separation chroots into this directory; it is missing until the system sshd first ran.
    ::mkdir("/run/sshd", 0755);
    std::unique_ptr<SshServer> s(new SshServer);
    // The owner's pid in the name tells a crashed run's leftovers from a parallel live one.
    std::string dir = fs::temp_directory_path().string() + "/" + kDirPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(dir.data())) {
        why = "mkdtemp " + dir + ": " + std::strerror(errno);
        return nullptr;
    }
    s->dir_ = dir;
    // The throwaway account's home is inside: it must be able to pass through.
    ::chmod(dir.c_str(), 0711);
    const std::string clientKey = s->clientHome() + "/.ssh/id_ed25519", hostKey = dir + "/host_key";
    fs::create_directories(s->clientHome() + "/.ssh");
    for (const auto& key : {clientKey, hostKey}) {
        const ProcessResult made = RunProcess({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key});
        if (made.exitCode != 0) {
            why = "ssh-keygen failed: " + made.output;
            return nullptr;
        }
    }
    std::istringstream(RunProcess({"ssh-keygen", "-lf", hostKey + ".pub"}).output) >> s->fingerprint_ >> s->fingerprint_;
    // From 9.8 on sshd penalises addresses whose connections fail or close early;
    // tests that log in with wrong passwords on purpose would lock out 127.0.0.1.
    int major = 0, minor = 0;
    const std::string version = RunProcess({"sshd", "-V"}).output;
    std::sscanf(version.c_str() + std::min(version.find("OpenSSH_"), version.size()), "OpenSSH_%d.%d", &major, &minor);
    // Another program may take the chosen port before sshd binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        s->port_ = TcpForwarder(1).port();  // a free port, released again
        std::ofstream(dir + "/sshd_config")
            << extraConfig << "Port " << s->port_ << "\nListenAddress 127.0.0.1\nHostKey " << hostKey
            << "\nPidFile none\nUsePAM no\nStrictModes no\nPermitRootLogin yes\nPasswordAuthentication yes\n"
            << "KbdInteractiveAuthentication no\nAuthorizedKeysFile " << clientKey << ".pub\nLogLevel VERBOSE\n"
            << (major * 100 + minor >= 908 ? "PerSourcePenalties no\n" : "")
            // Marks the commands run in sessions, which outlive a dropped connection.
            << "SetEnv " << kSessionTag << "=" << dir << "\n";
        // sshd re-executes itself per connection and insists on an absolute path; -e: its log is its output.
        s->sshd_ = Subprocess::Spawn({sshd, "-D", "-e", "-f", dir + "/sshd_config"}, &why);
        const std::string listening = "Server listening on 127.0.0.1 port " + std::to_string(s->port_) + ".";
        if (s->sshd_ && s->sshd_->waitForOutput(listening, 5s)) return s;
        if (s->sshd_) why = s->log();
        s->sshd_.reset();
    }
    why = "sshd did not start: " + why;
    return nullptr;
}

SshServer::~SshServer() {
    const std::string tag = std::string(kSessionTag) + "=" + dir_;
    // Sessions' commands first, while their sshd parents can still reap them.
    for (int round = 0; round < 5 && sshd_; ++round) {
        const auto pids = Processes("environ", '\0', tag);
        if (pids.empty()) break;
        for (pid_t pid : pids) ::kill(pid, SIGKILL);
        std::this_thread::sleep_for(10ms);
    }
    // On SIGTERM each connection's sshd ends its privilege-separated child and
    // exits, and the listener reaps it; one that does not is killed.
    const std::string child = "PPid:\t" + std::to_string(sshd_ ? sshd_->pid() : -1);
    for (auto t = Clock::now() + 2s; sshd_ && Clock::now() < t; std::this_thread::sleep_for(10ms)) {
        const auto children = Processes("status", '\n', child);
        if (children.empty()) break;
        for (pid_t pid : children) ::kill(pid, Clock::now() < t - 1s ? SIGTERM : SIGKILL);
    }
    sshd_.reset();
    for (pid_t pid : Processes("environ", '\0', tag)) ::kill(pid, SIGKILL);
    if (!account_.empty()) DeleteAccount(account_);
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

std::string SshServer::currentUser() const {
    const passwd* pw = ::getpwuid(::getuid());
    return pw ? pw->pw_name : "";
}

std::string SshServer::passwordUser() {
    if (!accountTried_) {
        accountTried_ = true;
        const std::string name = kAccountPrefix + RandomString(8), password = RandomString(24);
        if (Retry({"useradd", "-m", "-d", dir_ + "/home", "-s", "/bin/sh", name})) {
            account_ = name;
            if (Retry({"chpasswd"}, name + ":" + password + "\n")) password_ = password;
        }
    }
    return password_.empty() ? "" : account_;
}

std::string SshServer::password() {
    passwordUser();
    return password_;
}

std::string SshServer::log() const { return sshd_ ? sshd_->output() : ""; }

}  // namespace kestrane::testing
