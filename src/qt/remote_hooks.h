// What the SSH back-end asks of the window: the question about an unknown
// host key, a painted window while it waits, and the kept sessions' end.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "core/settings.h"
#include "wmi/ssh/ssh_client.h"
#include "wmi/wsman/wsman_client.h"

class QMessageBox;
class QWidget;

namespace kestrane::qt {

// The settings key naming the kestrane-cli to run on remote computers.
inline constexpr const char* kRemoteSection = "Remote";
inline constexpr const char* kRemoteCliKey = "CliPath";

// The question "Connect Once / Remember / Cancel" about an unknown host key,
// not yet shown. Its buttons carry the object names hostKeyConnectOnce,
// hostKeyRemember and hostKeyCancel.
QMessageBox* MakeHostKeyBox(QWidget* parent, const wmi::ssh::HostKeyQuestion& q);
// Shows that question and returns the choice (Cancel and closing refuse).
wmi::ssh::HostKeyChoice AskHostKey(QWidget* parent, const wmi::ssh::HostKeyQuestion& q);

// Certificates the user chose to remember: key "host:port", value
// "SHA256:..." as shown.
inline constexpr const char* kTrustedCertificatesSection = "TrustedCertificates";

// The question about an HTTPS certificate the system does not trust, with
// the same three buttons.
QMessageBox* MakeCertificateBox(QWidget* parent, const wmi::wsman::CertificateQuestion& q);
wmi::wsman::CertificateChoice AskCertificate(QWidget* parent, const wmi::wsman::CertificateQuestion& q);

// WS-Management options for the window: certificates remembered in the
// settings (Remember adds to them), the certificate question over `window`,
// and event processing while waiting.
void SetWindowWsmanOptions(const std::shared_ptr<wmi::wsman::Options>& options, SettingsStore& settings,
                           QWidget* window);

// SSH options for the window: the remote program from the settings, the
// host-key question over `window`, and event processing while waiting. Also
// closes idle sessions from a timer owned by `window`.
std::shared_ptr<wmi::ssh::Options> WindowSshOptions(SettingsStore& settings, QWidget* window);

// Reads the remote program from the settings file as it is now (the user may
// have edited it since the start), and names that file for the message
// about a missing program.
void ReadRemoteCli(wmi::ssh::Options& options, SettingsStore& settings);

// The remote back-end, reading the remote program before each connection.
using RemoteBackend = std::function<std::shared_ptr<wmi::Provider>(const std::string& server,
                                                                   const std::string& user,
                                                                   const std::string& password)>;
RemoteBackend ReadingRemoteCliFirst(RemoteBackend remote, std::shared_ptr<wmi::ssh::Options> options,
                                    SettingsStore& settings);

}  // namespace kestrane::qt
