// A real PostgreSQL for the store's tests: initdb into a temporary directory
// as a throwaway account (PostgreSQL refuses to run as root), listening only
// on a socket in that directory, stopped and removed with its account.
#pragma once

#include <memory>
#include <string>

namespace kestrane::testing {

class PgServer {
public:
    // nullptr (and *whyNot) when PostgreSQL or the rights to add an account
    // are missing here.
    static std::unique_ptr<PgServer> Start(std::string* whyNot);
    ~PgServer();
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    // A fresh database; its URI carries no password (libpq reads PGPASSWORD,
    // which Start sets for this process and its children).
    std::string newDatabase();

private:
    PgServer() = default;
    std::string dir_, account_, bin_, password_;
    int databases_ = 0;
    bool running_ = false;
};

// The one server of a test program, started at first use; nullptr with a
// skip reason when it cannot run (a failure under CI instead).
PgServer* SharedPgServer(std::string* whyNot);

}  // namespace kestrane::testing
