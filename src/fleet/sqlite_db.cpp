#include <sqlite3.h>

#include <filesystem>
#include <memory>

#include "fleet/database.h"

namespace kestrane::fleet {

namespace {

class SqliteDb : public Database {
public:
    explicit SqliteDb(std::string path) : path_(std::move(path)) {
        std::error_code ec;
        auto parent = std::filesystem::path(path_).parent_path();
        if (!parent.empty()) std::filesystem::create_directories(parent, ec);
        sqlite3* opened = nullptr;
        int rc = sqlite3_open_v2(path_.c_str(), &opened,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
        db_.reset(opened);
        if (rc != SQLITE_OK) fail("cannot open");
        // Two programs writing one file wait for each other rather than fail.
        sqlite3_busy_timeout(db_.get(), 30000);
        script("PRAGMA foreign_keys = ON");
        // A file that is not a database shows here, at the first read.
        auto mode = query("PRAGMA journal_mode = WAL", {});
        (void)mode;
    }
    void each(const std::string& sql, const std::vector<Cell>& params, const std::function<void(Row&)>& onRow) override {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql.c_str(), static_cast<int>(sql.size()), &st, nullptr) != SQLITE_OK)
            fail("cannot run a statement");
        struct Guard {
            sqlite3_stmt* s;
            ~Guard() { sqlite3_finalize(s); }
        } guard{st};
        for (std::size_t i = 0; i < params.size(); ++i) {
            int rc = params[i] ? sqlite3_bind_text(st, static_cast<int>(i + 1), params[i]->data(),
                                                   static_cast<int>(params[i]->size()), SQLITE_TRANSIENT)
                               : sqlite3_bind_null(st, static_cast<int>(i + 1));
            if (rc != SQLITE_OK) fail("cannot bind a value");
        }
        for (;;) {
            int rc = sqlite3_step(st);
            if (rc == SQLITE_DONE) break;
            if (rc != SQLITE_ROW) fail("cannot write or read");
            Row row;
            const int n = sqlite3_column_count(st);
            row.reserve(static_cast<std::size_t>(n));
            for (int c = 0; c < n; ++c) {
                if (sqlite3_column_type(st, c) == SQLITE_NULL) {
                    row.emplace_back();
                } else {
                    auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
                    row.emplace_back(std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st, c))));
                }
            }
            onRow(row);
        }
    }

    void script(const std::string& sql) override {
        char* msg = nullptr;
        if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
            std::string m = msg ? msg : sqlite3_errmsg(db_.get());
            sqlite3_free(msg);
            throw StoreError(path_ + ": " + m);
        }
    }

    std::string engine() const override { return "sqlite"; }
    std::string name() const override { return path_; }

private:
    [[noreturn]] void fail(const std::string& what) {
        std::string m = db_ ? sqlite3_errmsg(db_.get()) : "out of memory";
        int code = db_ ? sqlite3_errcode(db_.get()) : SQLITE_NOMEM;
        if (code == SQLITE_NOTADB) m = "not a Kestrane store (the file is not a SQLite database)";
        if (code == SQLITE_FULL) m = "the disk is full (nothing of this capture was stored)";
        throw StoreError(path_ + ": " + what + ": " + m);
    }

    std::string path_;
    // Owned from the moment it is opened, so a constructor that throws (a file
    // that is not a database) still closes it.
    struct Close {
        void operator()(sqlite3* d) const { sqlite3_close_v2(d); }
    };
    std::unique_ptr<sqlite3, Close> db_;
};

}  // namespace

std::unique_ptr<Database> OpenSqlite(const std::string& path) { return std::make_unique<SqliteDb>(path); }

}  // namespace kestrane::fleet
