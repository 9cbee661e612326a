// Where the program finds the computers it inspects.
#pragma once

#include <memory>
#include <string>

#include "wmi/services.h"
#include "wmi/ssh/ssh_client.h"
#include "wmi/wsman/wsman_client.h"

namespace kestrane {

// The local computer answered by the Linux provider over the files under
// `root`. A computer named by the path of a snapshot file (".json") is that
// recorded computer; "http(s)://..." a Windows computer over WS-Management;
// "ssh://..." a Linux computer over SSH; a bare name or address is tried over
// WS-Management on 5985 first, then over SSH on 22, each bounded to 3 s to
// connect. The options are read at each connection, so a window can set its
// hooks later.
// On Windows, WMI itself answers through COM for this computer and, over
// DCOM, for every other computer but a snapshot file; `root` and the SSH and
// WS-Management options are unused there.
wmi::Backends DefaultBackends(const std::string& root = "/",
                              std::shared_ptr<const wmi::ssh::Options> ssh = nullptr,
                              std::shared_ptr<const wmi::wsman::Options> wsman = nullptr);

// Lets the local computer's provider keep answers that are slow to find
// between runs, in the user's cache directory. Off unless turned on: only
// kestrane-cli, which starts anew for every command, keeps them; the window
// writes no file besides the ones the user saves.
void KeepLocalAnswersBetweenRuns(bool on);

// Closes the remote sessions kept idle too long (or all that are not in use).
void CloseIdleRemoteSessions();
void CloseAllRemoteSessions();

bool NamesSnapshotFile(const std::string& server);
// The computer recorded in a snapshot file; a file that cannot be read or
// parsed is 0x80041001 with the reason.
std::shared_ptr<wmi::Provider> OpenSnapshotComputer(const std::string& file);

// The host name the Linux system under `root` records, or `root` itself.
std::string RootComputerName(const std::string& root);

}  // namespace kestrane
