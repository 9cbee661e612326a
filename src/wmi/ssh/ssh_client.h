// Remote Linux computers: an SSH session (libssh) running `kestrane-cli
// serve` there, asked class by class over one exec channel.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "wmi/provider.h"

namespace wmi::ssh {

// Where to log in: "ssh://[user@]host[:port]" (IPv6 literals in brackets) or
// a bare name or address (port 22).
struct Target {
    std::string user;  // empty when the name holds none
    std::string host;
    int port = 22;
};

bool IsSshUrl(const std::string& name);
// Nothing when the name cannot be a computer name; `why` then says what is wrong.
std::optional<Target> ParseTarget(const std::string& name, std::string* why = nullptr);

enum class HostKeyChoice { Refuse, ConnectOnce, Remember };

struct HostKeyQuestion {
    std::string host;
    int port = 22;
    std::string keyType;      // "ssh-ed25519"
    std::string fingerprint;  // "SHA256:..." as OpenSSH prints it
    std::string knownHostsPath;
};

struct Options {
    // The program run on the remote computer (looked up in the login's PATH
    // unless it holds a slash).
    std::string remoteCli = "kestrane-cli";
    // Where the user names that program, for the message when it is missing.
    std::string remoteCliWhere = "kestrane-cli --remote-cli PATH, or Remote/CliPath in the settings";
    // Asked when the computer's host key is not yet known; unset refuses.
    std::function<HostKeyChoice(const HostKeyQuestion&)> unknownHost;
    // Appended to the refusal of an unknown host key: what the user can do.
    std::string unknownHostAdvice;
    // Called every few milliseconds while waiting on the network, so a
    // window stays painted.
    std::function<void()> whileWaiting;
    std::chrono::milliseconds connectTimeout{10000};
    // Longest silence of the remote program in the middle of an answer.
    std::chrono::milliseconds answerTimeout{60000};
    std::chrono::seconds idleClose{60};
};

// A provider answering from the computer `name` names, through a session
// opened now or kept from an earlier call with the same name, login and
// options. An empty user means the name's user, else the local user's name;
// an empty password means the SSH agent and the default keys. Throws
// wmi::Error: 0x800706BA unreachable, 0x80070005 login or host key refused,
// 0x80041013 the remote program missing or failing.
std::shared_ptr<Provider> Connect(const std::string& name, const std::string& user, const std::string& password,
                                  const Options& options);

// Closes the kept sessions that have been idle for their idleClose time.
void CloseIdleSessions();
// Closes every kept session that no provider is using.
void CloseAllSessions();

// $HOME/.ssh/known_hosts: shared with OpenSSH.
std::string KnownHostsPath();

// The 1-based line of a known_hosts file that records host (with port) under
// the given key type, or under any type when keyType is empty; 0 when none.
// Hashed host names are matched too.
int KnownHostsLine(const std::string& path, const std::string& host, int port, const std::string& keyType = "");

}  // namespace wmi::ssh
