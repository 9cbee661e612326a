#include <gtest/gtest.h>

#include <sstream>

#include "cli/cli.h"
#include "core/version.h"

namespace {

struct Result {
    int code;
    std::string out, err;
};

Result Cli(std::vector<std::string> args) {
    std::ostringstream out, err;
    int code = kestrane::cli::Run(args, out, err);
    return {code, out.str(), err.str()};
}

const std::string kSample = std::string(KESTRANE_FIXTURES) + "/snapshots/sample.json";

}  // namespace

TEST(CliNames, VersionAndTheClassNamedInAnInvalidClassError) {
    Result v = Cli({"--version"});
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.out, "kestrane-cli " + std::to_string(kestrane::kVersionMajor) + "." +
                         std::to_string(kestrane::kVersionMinor) + "." + std::to_string(kestrane::kVersionRevision) + "\n");
    // A class the catalogue lacks keeps its spelling after the prefix.
    Result bad = Cli({"--snapshot", kSample, "list", "WIN32_NoSuchThing"});
    EXPECT_EQ(bad.code, 3);
    EXPECT_EQ(bad.err, "-2147217392:Invalid class: Win32_NoSuchThing\n");
}
