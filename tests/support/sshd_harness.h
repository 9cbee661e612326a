// A real OpenSSH sshd on 127.0.0.1 for tests, and a small child-process runner
// for the command-line tools (ssh, ssh-keygen) that tests compare against.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrane::testing {

struct ProcessResult {
    int exitCode = -1;      // exit status, 128+signal when killed, -1 when it could not start
    bool timedOut = false;  // killed because it outlived its timeout
    std::string output;     // stdout and stderr together (or why it could not start)
};

// A child program whose stdout and stderr are collected through one pipe.
// It is killed (SIGKILL) and reaped when destroyed, and is also killed if the
// thread that spawned it ends first (PR_SET_PDEATHSIG), so a crashed test
// leaves nothing running.
class Subprocess {
public:
    // argv[0] is a path or a name looked up in PATH, /usr/sbin and /sbin.
    // Returns nullptr and sets *whyNot when it cannot start.
    static std::unique_ptr<Subprocess> Spawn(const std::vector<std::string>& argv, std::string* whyNot = nullptr,
                                             const std::string& stdinData = "");
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

    pid_t pid() const { return pid_; }
    // Collects output until it contains `text`; false if the process ended or the time ran out first.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The exit code (128+signal when killed), or nullopt when still running after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    const std::string& output() const { return output_; }

private:
    Subprocess() = default;
    void pump(std::chrono::milliseconds maxWait);
    bool reap();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int inFd_ = -1;
    std::string stdin_;
    std::size_t stdinSent_ = 0;
    std::string output_;
    std::optional<int> exitCode_;
};

// Runs a program to completion (killing it after `timeout`).
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20),
                         const std::string& stdinData = "");

class SshServer {
public:
    // Starts OpenSSH's sshd -D as a child on a free port of 127.0.0.1, with its config, an ed25519 host key
    // and its log (-E) in a fresh temp dir, and waits (about 5 s at most) until it answers with an SSH banner.
    // `extraConfig` lines go before the harness's own settings, since sshd keeps the first value it reads
    // for a keyword; from its first `Match` line on they go at the end instead.
    // First removes the accounts and temp dirs a crashed earlier run left (those whose owning process is gone).
    // Returns nullptr and sets *whyNot when sshd cannot run here, so tests can GTEST_SKIP with it.
    // sshd gets SIGTERM if the thread that called Start ends, so start it from the test's own thread.
    static std::unique_ptr<SshServer> Start(std::string* whyNot, const std::string& extraConfig = "");
    // Kills sshd, every process under it and every command its sessions started (found by an environment
    // variable sshd sets for them, since they outlive a dropped connection), deletes the throwaway account and
    // removes the temp dir.
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    int port() const { return port_; }
    // OpenSSH's "SHA256:..." fingerprint of the current host key (from `ssh-keygen -lf`).
    std::string hostKeyFingerprint() const { return fingerprint_; }
    // Replaces the host key and restarts sshd on the same port; open connections are dropped.
    // If sshd does not come back, the reason is printed to stderr and log() shows it.
    void replaceHostKey();
    // Holds .ssh/id_ed25519 (+ .pub, no passphrase) whose public key lets currentUser() log in;
    // .ssh has mode 700 and no known_hosts at start.
    std::string clientHome() const { return clientHome_; }
    std::string currentUser() const { return currentUser_; }
    // A throwaway account (useradd, "kestranetest" + random suffix, home in the temp dir, shell /bin/sh) with a
    // random password, made on first call. Empty strings when it cannot be made.
    std::string passwordUser();
    std::string password();
    // The sshd log, for failure messages.
    std::string log() const;

private:
    SshServer() = default;
    bool makeHostKey(std::string* whyNot);
    bool launch(std::string* whyNot);
    void stop();
    void makeAccount();

    std::string dir_;
    std::string sshd_;
    std::string keygen_;
    std::string extraConfig_;
    std::string configPath_;
    std::string hostKey_;
    std::string logPath_;
    std::string clientHome_;
    std::string currentUser_;
    std::string fingerprint_;
    std::string accountName_;
    std::string accountPassword_;
    bool accountTried_ = false;
    bool penaltiesOption_ = false;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace kestrane::testing
