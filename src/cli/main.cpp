#include "cli/cli.h"
#ifndef _WIN32
#include "wmi/linux/answer_cache.h"
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
    wmi::lnx::KeepAnswersBetweenRuns(true);
#endif
    return kestrane::cli::Main(argc, argv);
}
