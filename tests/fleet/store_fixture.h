// Stores for the fleet tests, on both engines: SQLite in a temporary file and
// the tests' own PostgreSQL.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "fleet/pg_server.h"
#include "fleet/store.h"

namespace kestrane::testing {

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A snapshot of `computer` with the classes given as JSON.
inline std::string SnapshotJson(const std::string& computer, const nlohmann::ordered_json& classes,
                                const std::string& captured = "20261201120000.000000+000") {
    nlohmann::ordered_json j{{"format", "kestrane-snapshot"}, {"version", 1}, {"computer", computer},
                             {"captured", captured}, {"classes", classes}};
    return j.dump();
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/kestrane-fleet-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Parameter: "sqlite" or "postgresql".
class EngineTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "sqlite") {
            spec_ = dir_.path() + "/fleet.sqlite";
            return;
        }
        std::string why;
        PgServer* pg = SharedPgServer(&why);
        if (!pg) {
            if (std::getenv("CI")) FAIL() << "no PostgreSQL for tests: " << why;
            GTEST_SKIP() << why;
        }
        pg_ = pg;
        spec_ = pg->newDatabase();
    }
    std::unique_ptr<fleet::Store> open() { return fleet::Store::Open(spec_); }

    TempDir dir_;
    std::string spec_;
    PgServer* pg_ = nullptr;
};

inline std::string EngineName(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace kestrane::testing
