#include "backends/backends.h"
#include "cli/cli.h"

int main(int argc, char** argv) {
    kestrane::KeepLocalAnswersBetweenRuns(true);
    return kestrane::cli::Main(argc, argv);
}
