// The native Windows provider: WMI itself, reached through COM on this
// computer and DCOM on another. Built only for Windows.
#pragma once

#include <memory>
#include <string>

#include "wmi/provider.h"

namespace wmi::com {

// Connects to root\cimv2 of `server` ("" or "." for this computer, which
// takes no login). An empty user logs in as the caller. Throws wmi::Error
// with WMI's number and description (0x800706BA unreachable, 0x80070005
// refused...).
std::shared_ptr<Provider> Connect(const std::string& server, const std::string& user, const std::string& password);

// The instances a WQL query selects, read one at a time as they are asked
// for. A query WMI refuses throws here (0x80041017); for enumerate() the
// object model checks the query first.
std::unique_ptr<InstanceCursor> ExecQuery(Provider& provider, const std::string& wql);

}  // namespace wmi::com
