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

// A child program reading `stdinData`, its stdout and stderr together in one
// memory file; killed (SIGKILL) and reaped when destroyed.
class Subprocess {
public:
    // argv[0] is a path or a name looked up in PATH, /usr/sbin and /sbin.
    // Returns nullptr and sets *whyNot when it cannot start.
    static std::unique_ptr<Subprocess> Spawn(const std::vector<std::string>& argv, std::string* whyNot = nullptr,
                                             const std::string& stdinData = "");
    ~Subprocess();

    // Waits until the output contains `text`; false if the process ended or the time ran out first.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The exit code (128+signal when killed), or nullopt when still running after `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    std::string output() const;
    pid_t pid() const { return pid_; }

private:
    Subprocess() = default;
    bool reap();

    pid_t pid_ = -1;
    int outFd_ = -1;
    std::optional<int> exitCode_;
};

// Runs a program to completion (killing it after `timeout`).
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20),
                         const std::string& stdinData = "");

class SshServer {
public:
    // Starts sshd on a free port of 127.0.0.1 with its config, an ed25519 host key, a client key and its log
    // in a fresh temp dir, and waits until it listens. `extraConfig` lines go before the harness's own
    // settings (sshd keeps the first value of a keyword). Returns nullptr and sets *whyNot when sshd cannot
    // run here.
    static std::unique_ptr<SshServer> Start(std::string* whyNot, const std::string& extraConfig = "");
    // Kills sshd and every command its sessions started, deletes the throwaway account and the temp dir.
    ~SshServer();

    int port() const { return port_; }
    // OpenSSH's "SHA256:..." fingerprint of the host key.
    std::string hostKeyFingerprint() const { return fingerprint_; }
    // Holds .ssh/id_ed25519 whose public key lets currentUser() log in; no known_hosts at start.
    std::string clientHome() const { return dir_ + "/client"; }
    std::string currentUser() const;
    // A throwaway account ("kestranetest" + random suffix, shell /bin/sh) with a random password, made on
    // first call. Empty strings when it cannot be made.
    std::string passwordUser();
    std::string password();
    // sshd's log, for failure messages.
    std::string log() const;

private:
    SshServer() = default;

    std::string dir_, fingerprint_, account_, password_;
    bool accountTried_ = false;
    int port_ = 0;
    std::unique_ptr<Subprocess> sshd_;
};

}  // namespace kestrane::testing
