// The one small interface the fleet store speaks to an engine through:
// statements with positional parameters, rows of nullable texts, and
// transactions. SQLite and PostgreSQL each implement it.
#pragma once

#include <functional>
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
    // Runs one statement; `?` marks each parameter in order, and hands each
    // row it produces to `onRow` as it comes, every value as text (NULL as
    // nullopt).
    virtual void each(const std::string& sql, const std::vector<Cell>& params,
                      const std::function<void(Row&)>& onRow) = 0;
    // The same, returning the rows.
    std::vector<Row> query(const std::string& sql, const std::vector<Cell>& params = {}) {
        std::vector<Row> rows;
        each(sql, params, [&](Row& r) { rows.push_back(std::move(r)); });
        return rows;
    }
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
