#include "core/hostname.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

namespace kestrane {

std::string LocalHostName() {
#ifdef _WIN32
    char buf[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD len = sizeof buf;
    if (!GetComputerNameA(buf, &len)) return {};
    return std::string(buf, len);
#else
    // Host names may be up to 64 bytes on Linux (255 by POSIX); never cut them.
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return std::string(buf);
#endif
}

}  // namespace kestrane
