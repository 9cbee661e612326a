#include "cli/cli.h"

#include <iostream>

namespace kestrane::cli {

int Run(const std::vector<std::string>&, std::ostream&, std::ostream& err) {
    err << "kestrane-cli: not ready yet\n";
    return 2;
}

int Main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return Run(args, std::cout, std::cerr);
}

}  // namespace kestrane::cli
