#include "cli/cli.h"

int main(int argc, char** argv) { return kestrane::cli::Main(argc, argv); }
