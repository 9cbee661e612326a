#include <libpq-fe.h>

#include <memory>
#include <regex>

#include "fleet/database.h"

namespace kestrane::fleet {

namespace {

// The URI as messages show it: a password written into it is hidden.
std::string Redacted(const std::string& uri) {
    static const std::regex userinfo(R"(^(postgres(?:ql)?://[^:/@]*):[^@]*@)");
    static const std::regex keyword(R"((password\s*=\s*)('[^']*'|\S+))");
    return std::regex_replace(std::regex_replace(uri, userinfo, "$1:***@"), keyword, "$1***");
}

std::string Trimmed(const char* s) {
    std::string m = s ? s : "";
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    return m;
}

class PostgresDb : public Database {
public:
    explicit PostgresDb(const std::string& uri) : name_(Redacted(uri)) {
        conn_.reset(PQconnectdb(uri.c_str()));
        if (!conn_ || PQstatus(conn_.get()) != CONNECTION_OK)
            throw StoreError(name_ + ": cannot connect: " + Trimmed(conn_ ? PQerrorMessage(conn_.get()) : "out of memory"));
        script("SET client_min_messages = warning");
    }
    void each(const std::string& sql, const std::vector<Cell>& params, const std::function<void(Row&)>& onRow) override {
        // '?' to $1, $2, ... outside quoted text.
        std::string text;
        int n = 0;
        bool quoted = false;
        for (char c : sql) {
            if (c == '\'') quoted = !quoted;
            if (c == '?' && !quoted) text += "$" + std::to_string(++n);
            else text += c;
        }
        std::vector<const char*> values;
        for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
        PGresult* r = PQexecParams(conn_.get(), text.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                   nullptr, nullptr, 0);
        struct Guard {
            PGresult* r;
            ~Guard() { PQclear(r); }
        } guard{r};
        auto status = PQresultStatus(r);
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            throw StoreError(name_ + ": " + Trimmed(PQresultErrorMessage(r)));
        const int nr = PQntuples(r), nc = PQnfields(r);
        for (int i = 0; i < nr; ++i) {
            Row row;
            row.reserve(static_cast<std::size_t>(nc));
            for (int c = 0; c < nc; ++c) {
                if (PQgetisnull(r, i, c)) row.emplace_back();
                else row.emplace_back(std::string(PQgetvalue(r, i, c), static_cast<std::size_t>(PQgetlength(r, i, c))));
            }
            onRow(row);
        }
    }

    void script(const std::string& sql) override {
        PGresult* r = PQexec(conn_.get(), sql.c_str());
        auto status = PQresultStatus(r);
        std::string m = Trimmed(PQresultErrorMessage(r));
        PQclear(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw StoreError(name_ + ": " + m);
    }

    std::string engine() const override { return "postgresql"; }
    std::string name() const override { return name_; }

private:
    std::string name_;
    // A refused login still allocates a connection that must be finished.
    struct Finish {
        void operator()(PGconn* c) const { PQfinish(c); }
    };
    std::unique_ptr<PGconn, Finish> conn_;
};

}  // namespace

std::unique_ptr<Database> OpenPostgres(const std::string& uri) { return std::make_unique<PostgresDb>(uri); }

}  // namespace kestrane::fleet
