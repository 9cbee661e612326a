// A real OpenSSH sshd on 127.0.0.1 for tests, and a small child-process runner
// for the programs tests start (ssh-keygen, useradd, test servers).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrane::testing {

struct ProcessResult {
    int exitCode = -1;   // exit status, 128+signal when killed, -1 when it could not start
    std::string output;  // stdout and stderr together (or why it could not start)
};

// A child program whose stdout and stderr are collected through one pipe;
// killed (SIGKILL) and reaped when destroyed.
class Subprocess {
public:
    // argv[0] is a path or a name looked up in PATH, /usr/sbin and /sbin.
    // Returns nullptr and sets *whyNot when it cannot start.
    static std::unique_ptr<Subprocess> Spawn(const std::vector<std::string>& argv, std::string* whyNot = nullptr,
                                             const std::string& stdinData = "");
    ~Subprocess();
    Subprocess(const Subprocess&) = delete;
    Subprocess& operator=(const Subprocess&) = delete;

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
    int outFd_ = -1, inFd_ = -1;
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
    // Starts sshd -D on a free port of 127.0.0.1 with its config, an ed25519 host key and its log in a fresh
    // temp dir, and waits until it sends an SSH banner. `extraConfig` lines go before the harness's own
    // settings (sshd keeps the first value of a keyword); from a `Match` line on they go at the end.
    // Returns nullptr and sets *whyNot when sshd cannot run here.
    static std::unique_ptr<SshServer> Start(std::string* whyNot, const std::string& extraConfig = "");
    // Kills sshd and every command its sessions started, deletes the throwaway account and the temp dir.
    ~SshServer();
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    int port() const { return port_; }
    // OpenSSH's "SHA256:..." fingerprint of the current host key.
    std::string hostKeyFingerprint() const { return fingerprint_; }
    // Replaces the host key and restarts sshd on the same port; open connections are dropped.
    void replaceHostKey();
    // Holds .ssh/id_ed25519 whose public key lets currentUser() log in; no known_hosts at start.
    std::string clientHome() const { return dir_ + "/client"; }
    std::string currentUser() const { return currentUser_; }
    // A throwaway account ("kestranetest" + random suffix, shell /bin/sh) with a random password, made on
    // first call. Empty strings when it cannot be made.
    std::string passwordUser();
    std::string password();
    // The sshd log, for failure messages.
    std::string log() const;

private:
    SshServer() = default;
    bool makeHostKey(std::string* whyNot);
    bool launch(std::string* whyNot);
    void stop();

    std::string dir_, extraConfig_, currentUser_, fingerprint_, account_, accountPassword_;
    bool accountTried_ = false;
    bool penaltiesOption_ = false;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace kestrane::testing
