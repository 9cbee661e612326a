// The print system's configuration files (CUPS), as pure functions of text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wmi::lnx {

struct CupsPrinter {
    std::string name;
    bool isDefault = false;
    std::optional<std::string> info, location, makeModel, deviceUri, state;
    std::optional<bool> accepting, shared;
};

// printers.conf: <Printer NAME> or <DefaultPrinter NAME> blocks of
// "Key value" lines. A block left open at the end still counts; lines outside
// blocks and unknown keys are ignored.
std::vector<CupsPrinter> ParseCupsPrinters(std::string_view text);

// printcap as CUPS writes it for programs that cannot read printers.conf:
// "name|info:rm=host:rp=queue:" per line, '#' comments.
std::vector<CupsPrinter> ParsePrintcap(std::string_view text);

struct DeviceUri {
    std::string scheme, host, queue;
    std::optional<int> port;
};

// "socket://host:9100", "ipp://host/printers/q", "lpd://host/queue"; nothing
// for a URI without "://".
std::optional<DeviceUri> ParseDeviceUri(std::string_view uri);

}  // namespace wmi::lnx
