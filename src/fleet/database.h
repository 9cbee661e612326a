// The one small interface the fleet store speaks to an engine through:
// statements with positional parameters, rows of nullable texts, and
// transactions. SQLite and PostgreSQL each implement it.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrane::fleet {

// Anything the engine refuses: the message says what and where.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

class Database {
public:
    virtual ~Database() = default;
    // Runs one statement; `?` marks each parameter in order. Returns the rows
    // it produced, every value as text (NULL as nullopt).
    virtual std::vector<Row> query(const std::string& sql, const std::vector<Cell>& params = {}) = 0;
    // Runs statements without parameters, separated by ';'.
    virtual void script(const std::string& sql) = 0;
    // "sqlite" or "postgresql": the few places the dialects differ.
    virtual std::string engine() const = 0;
    // The store named for messages (a file, or the URI without a password).
    virtual std::string name() const = 0;

    void begin() { script(engine() == "sqlite" ? "BEGIN IMMEDIATE" : "BEGIN"); }
    void commit() { script("COMMIT"); }
    void rollback() noexcept {
        try {
            script("ROLLBACK");
        } catch (...) {
        }
    }
};

// A SQLite file (created when absent), in WAL mode.
std::unique_ptr<Database> OpenSqlite(const std::string& path);
// A libpq connection string or URI; the password comes from libpq's own
// sources (PGPASSWORD, PGPASSFILE, a service file), never from the caller.
std::unique_ptr<Database> OpenPostgres(const std::string& uri);

// Rolls back unless committed.
class Transaction {
public:
    explicit Transaction(Database& db) : db_(db) { db_.begin(); }
    ~Transaction() {
        if (!done_) db_.rollback();
    }
    void commit() {
        db_.commit();
        done_ = true;
    }

private:
    Database& db_;
    bool done_ = false;
};

}  // namespace kestrane::fleet
