// `kestrane-cli serve`: answers class requests from another computer's
// Kestrane over standard input and output (docs/remote-protocol.md).
#pragma once

#include <string>

#include "wmi/provider.h"

namespace kestrane::cli {

// Reads requests from fd `in` and writes answers to fd `out` until the input
// ends or the reader goes away. Only classes are answered: a request names a
// class and nothing else. Returns the exit status (0, or 2 after a request
// that breaks the protocol, which is answered with an error line first).
int Serve(int in, int out, wmi::Provider& provider, const std::string& computer);

}  // namespace kestrane::cli
