#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane::cli {

int Main(int argc, char** argv);
// The same with explicit streams, for tests.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace kestrane::cli
