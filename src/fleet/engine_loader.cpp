// The storage engines' libraries, opened when a store is first used: linked
// directly, libpq alone brings twenty libraries (TLS, Kerberos, LDAP) that
// every start of kestrane-cli would load and relocate for nothing. Each
// function the store calls is defined here under its own name and forwards
// to the library's, so the store's code reads as plain SQLite and libpq.
#include <dlfcn.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <mutex>
#include <string>

#include "fleet/database.h"

namespace kestrane::fleet {
namespace {

struct Library {
    const char* file;
    const char* what;
    std::once_flag once;
    void* handle = nullptr;
};
Library gSqlite{"libsqlite3.so.0", "SQLite (Debian package libsqlite3-0)", {}, nullptr};
Library gPq{"libpq.so.5", "the PostgreSQL client library (Debian package libpq5)", {}, nullptr};

void* Symbol(Library& lib, const char* name) {
    std::call_once(lib.once, [&] { lib.handle = ::dlopen(lib.file, RTLD_NOW | RTLD_LOCAL); });
    void* f = lib.handle ? ::dlsym(lib.handle, name) : nullptr;
    if (!f) throw StoreError(std::string("the store needs ") + lib.what + ", which is not installed here");
    return f;
}

template <class F>
F Get(Library& lib, const char* name) {
    return reinterpret_cast<F>(Symbol(lib, name));
}

}  // namespace
}  // namespace kestrane::fleet

// Each looks its function up once; the lookup throws when the library is missing.
#define KESTRANE_FORWARD(lib, ret, name, params, args)                        \
    extern "C" ret name params {                                              \
        static const auto f =                                                 \
            kestrane::fleet::Get<decltype(&::name)>(kestrane::fleet::lib, #name); \
        return f args;                                                        \
    }

KESTRANE_FORWARD(gSqlite, int, sqlite3_open_v2, (const char* a, sqlite3** b, int c, const char* d), (a, b, c, d))
KESTRANE_FORWARD(gSqlite, int, sqlite3_busy_timeout, (sqlite3* a, int b), (a, b))
KESTRANE_FORWARD(gSqlite, int, sqlite3_close_v2, (sqlite3* a), (a))
KESTRANE_FORWARD(gSqlite, int, sqlite3_prepare_v2,
                 (sqlite3* a, const char* b, int c, sqlite3_stmt** d, const char** e), (a, b, c, d, e))
KESTRANE_FORWARD(gSqlite, int, sqlite3_finalize, (sqlite3_stmt* a), (a))
KESTRANE_FORWARD(gSqlite, int, sqlite3_bind_text, (sqlite3_stmt* a, int b, const char* c, int d, void (*e)(void*)),
                 (a, b, c, d, e))
KESTRANE_FORWARD(gSqlite, int, sqlite3_bind_null, (sqlite3_stmt* a, int b), (a, b))
KESTRANE_FORWARD(gSqlite, int, sqlite3_step, (sqlite3_stmt* a), (a))
KESTRANE_FORWARD(gSqlite, int, sqlite3_column_count, (sqlite3_stmt* a), (a))
KESTRANE_FORWARD(gSqlite, int, sqlite3_column_type, (sqlite3_stmt* a, int b), (a, b))
KESTRANE_FORWARD(gSqlite, const unsigned char*, sqlite3_column_text, (sqlite3_stmt* a, int b), (a, b))
KESTRANE_FORWARD(gSqlite, int, sqlite3_column_bytes, (sqlite3_stmt* a, int b), (a, b))
KESTRANE_FORWARD(gSqlite, int, sqlite3_exec,
                 (sqlite3* a, const char* b, int (*c)(void*, int, char**, char**), void* d, char** e),
                 (a, b, c, d, e))
KESTRANE_FORWARD(gSqlite, const char*, sqlite3_errmsg, (sqlite3* a), (a))
KESTRANE_FORWARD(gSqlite, int, sqlite3_errcode, (sqlite3* a), (a))
KESTRANE_FORWARD(gSqlite, void, sqlite3_free, (void* a), (a))

KESTRANE_FORWARD(gPq, PGconn*, PQconnectdb, (const char* a), (a))
KESTRANE_FORWARD(gPq, ConnStatusType, PQstatus, (const PGconn* a), (a))
KESTRANE_FORWARD(gPq, char*, PQerrorMessage, (const PGconn* a), (a))
KESTRANE_FORWARD(gPq, void, PQfinish, (PGconn* a), (a))
KESTRANE_FORWARD(gPq, PGresult*, PQexecParams,
                 (PGconn* a, const char* b, int c, const Oid* d, const char* const* e, const int* f2, const int* g,
                  int h),
                 (a, b, c, d, e, f2, g, h))
KESTRANE_FORWARD(gPq, PGresult*, PQexec, (PGconn* a, const char* b), (a, b))
KESTRANE_FORWARD(gPq, void, PQclear, (PGresult* a), (a))
KESTRANE_FORWARD(gPq, ExecStatusType, PQresultStatus, (const PGresult* a), (a))
KESTRANE_FORWARD(gPq, char*, PQresultErrorMessage, (const PGresult* a), (a))
KESTRANE_FORWARD(gPq, int, PQntuples, (const PGresult* a), (a))
KESTRANE_FORWARD(gPq, int, PQnfields, (const PGresult* a), (a))
KESTRANE_FORWARD(gPq, int, PQgetisnull, (const PGresult* a, int b, int c), (a, b, c))
KESTRANE_FORWARD(gPq, char*, PQgetvalue, (const PGresult* a, int b, int c), (a, b, c))
KESTRANE_FORWARD(gPq, int, PQgetlength, (const PGresult* a, int b, int c), (a, b, c))
