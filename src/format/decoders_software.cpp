// Printers and printer configurations, software elements, scheduling,
// network adapters and routes, accounts and logon sessions.
#include "format/decoder_kinds.h"
#include "format/decoders.h"

namespace kestrane {

using namespace decode;

namespace {

// Printers ------------------------------------------------------------------

constexpr CodeEntry kPrinterStatus[] = {
    {1, "Other"},
    {2, "Unknown"},
    {3, "Idle"},
    {4, "Printing"},
    {5, "Warmup"},
    {6, "Stopped Printing"},
    {7, "Offline"},
    {8, "Paused"},
    {9, "Error"},
    {10, "Busy"},
    {11, "Not Available"},
    {12, "Waiting"},
    {13, "Processing"},
    {14, "Initialization"},
    {15, "Power Save"},
    {16, "Pending Deletion"},
    {17, "I/O Active"},
    {18, "Manual Feed"},
};

constexpr CodeEntry kColor[] = {{1, "Monochrome"}, {2, "Color"}};

constexpr CodeEntry kPrinterMediaType[] = {{1, "Standard"}, {2, "Transparency"}, {3, "Glossy"}};

constexpr CodeEntry kICMIntent[] = {{1, "Saturation"}, {2, "Contrast"}, {3, "Exact Color"}};

constexpr CodeEntry kICMMethod[] = {{1, "Disabled"}, {2, "Windows"}, {3, "Device Driver"}, {4, "Device"}};

constexpr CodeEntry kOrientation[] = {{1, "Portrait"}, {2, "Landscape"}};

// Software elements ---------------------------------------------------------

constexpr CodeEntry kSoftwareElementState[] = {
    {0, "Deployable"}, {1, "Installable"}, {2, "Executable"}, {3, "Running"},
};

constexpr std::string_view kOperatingSystemTexts[] = {
    "Unknown",      "Other",         "MACOS",          "ATTUNIX",     "DGUX",         "DECNT",
    "Digital Unix", "OpenVMS",       "HPUX",           "AIX",         "MVS",          "OS400",
    "OS/2",         "JavaVM",        "MSDOS",          "WIN3x",       "WIN95",        "WIN98",
    "WINNT",        "WINCE",         "NCR3000",        "NetWare",     "OSF",          "DC/OS",
    "Reliant UNIX", "SCO UnixWare",  "SCO OpenServer", "Sequent",     "IRIX",         "Solaris",
    "SunOS",        "U6000",         "ASERIES",        "TandemNSK",   "TandemNT",     "BS2000",
    "LINUX",        "Lynx",          "XENIX",          "VM/ESA",      "Interactive UNIX", "BSDUNIX",
    "FreeBSD",      "NetBSD",        "GNU Hurd",       "OS9",         "MACH Kernel",  "Inferno",
    "QNX",          "EPOC",          "IxWorks",        "VxWorks",     "MiNT",         "BeOS",
    "HP MPE",       "NextStep",      "PalmPilot",      "Rhapsody",    "Windows 2000", "Dedicated",
};
// 60 has no text of its own.
constexpr std::string_view kLaterOperatingSystemTexts[] = {"VSE", "TPF"};
constexpr auto kTargetOperatingSystem =
    Join(Consecutive(0, kOperatingSystemTexts), Consecutive(61, kLaterOperatingSystemTexts));

// Operating system ------------------------------------------------------------

constexpr CodeEntry kForegroundApplicationBoost[] = {{0, "None"}, {1, "Minimum"}, {2, "Maximum(Default)"}};

// Network adapters and routes -------------------------------------------------

// "disconnedted" is the text the system has always shown.
constexpr CodeEntry kNetConnectionStatus[] = {
    {0, "Disconnected"},
    {1, "Connecting"},
    {2, "Connected"},
    {3, "Disconnecting"},
    {4, "Hardware not present"},
    {5, "Hardware disabled"},
    {6, "Hardware malfunction"},
    {7, "Media disconnedted"},
    {8, "Authenticating"},
    {9, "Authentication succeeded"},
    {10, "Authentication failed"},
    {11, "Invalid Address"},
    {12, "Credentials Required"},
};

// Routing protocols as the IP-Forward MIB names them.
constexpr CodeEntry kProtocol[] = {
    {1, "Other"},  {2, "Local"}, {3, "Netmgmt"},     {4, "icmp"},       {5, "egp"},
    {6, "ggp"},    {7, "hello"}, {8, "rip"},         {9, "is-is"},      {10, "es-is"},
    {11, "CiscoIgrp"},           {12, "bbnSpfIgp"},  {13, "ospf"},      {14, "bgp"},
};

// Accounts and logon sessions -------------------------------------------------

constexpr CodeEntry kSIDType[] = {
    {1, "Sid Type User"},
    {2, "Sid Type Group"},
    {3, "Sid Type Domain"},
    {4, "Sid Type Alias"},
    {5, "Sid Type WellKnownGroup"},
    {6, "Sid Type DeletedAccount"},
    {7, "Sid TypeInvalid"},
    {8, "Sid Type Unknown"},
    {9, "Sid Type Computer"},
};

// 0 is the System account's own session; 1 is no logon kind. The later
// kinds are spelt in words like the first ones.
constexpr CodeEntry kLogonType[] = {
    {0, "System"},
    {2, "Interactive"},
    {3, "Network"},
    {4, "Batch"},
    {5, "Service"},
    {6, "Proxy"},
    {7, "Unlock"},
    {8, "Network Cleartext"},
    {9, "New Credentials"},
    {10, "Remote Interactive"},
    {11, "Cached Interactive"},
    {12, "Cached Remote Interactive"},
    {13, "Cached Unlock"},
};

}  // namespace

std::string GetPrinterStatus(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                             std::string_view) {
    return SuffixForm(objProperty, kPrinterStatus, Fallback::None);
}

std::string GetColor(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kColor, Fallback::None);
}

std::string GetPrinterMediaType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                std::string_view) {
    return SuffixForm(objProperty, kPrinterMediaType, Fallback::None);
}

std::string GetICMIntent(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kICMIntent, Fallback::None);
}

std::string GetICMMethod(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kICMMethod, Fallback::None);
}

std::string GetOrientation(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                           std::string_view) {
    return SuffixForm(objProperty, kOrientation, Fallback::None);
}

std::string GetSoftwareElementState(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                    std::string_view) {
    return SuffixForm(objProperty, kSoftwareElementState, Fallback::None);
}

std::string GetTargetOperatingSystem(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                     std::string_view) {
    return SuffixForm(objProperty, kTargetOperatingSystem, Fallback::None);
}

std::string GetForegroundApplicationBoost(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                          std::string_view) {
    return SuffixForm(objProperty, kForegroundApplicationBoost, Fallback::None);
}

std::string GetNetConnectionStatus(const wmi::Property& objProperty, ArrayRowSink&, std::string_view,
                                   std::string_view) {
    return SuffixForm(objProperty, kNetConnectionStatus, Fallback::None);
}

std::string GetProtocol(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kProtocol, Fallback::Value);
}

std::string GetSIDType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kSIDType, Fallback::None);
}

std::string GetLogonType(const wmi::Property& objProperty, ArrayRowSink&, std::string_view, std::string_view) {
    return SuffixForm(objProperty, kLogonType, Fallback::None);
}

}  // namespace kestrane
