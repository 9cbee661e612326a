#include "fleet/pg_server.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "fleet/database.h"
#include "support/sshd_harness.h"

namespace kestrane::testing {

namespace {

using namespace std::chrono_literals;

std::string FindBin() {
    for (const char* v : {"17", "16", "15", "14", "13"}) {
        std::string d = std::string("/usr/lib/postgresql/") + v + "/bin";
        if (::access((d + "/initdb").c_str(), X_OK) == 0) return d;
    }
    return "";
}

std::string Random(std::size_t n) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += alphabet[rd() % 36];
    return s;
}

ProcessResult AsAccount(const std::string& account, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"runuser", "-u", account, "--"});
    return RunProcess(argv, 60s);
}

}  // namespace

std::unique_ptr<PgServer> PgServer::Start(std::string* whyNot) {
    std::unique_ptr<PgServer> s(new PgServer);
    s->bin_ = FindBin();
    if (s->bin_.empty()) return *whyNot = "no PostgreSQL server (/usr/lib/postgresql/*/bin/initdb)", nullptr;
    if (::geteuid() != 0) return *whyNot = "making a throwaway account for PostgreSQL needs root", nullptr;
    char tmpl[] = "/tmp/kestrane-pg-XXXXXX";
    if (!::mkdtemp(tmpl)) return *whyNot = "no temporary directory", nullptr;
    s->dir_ = tmpl;
    s->account_ = "kestranepg" + Random(8);
    auto r = RunProcess({"useradd", "-M", "-d", s->dir_, "-s", "/usr/sbin/nologin", s->account_}, 30s);
    if (r.exitCode != 0) {
        s->account_.clear();
        return *whyNot = "useradd: " + r.output, nullptr;
    }
    RunProcess({"chown", s->account_, s->dir_});
    s->password_ = Random(20);
    const std::string pwfile = s->dir_ + "/pw";
    std::ofstream(pwfile) << s->password_ << '\n';
    RunProcess({"chown", s->account_, pwfile});
    r = AsAccount(s->account_, {s->bin_ + "/initdb", "-D", s->dir_ + "/data", "-U", "kestrane", "--pwfile", pwfile,
                                "--auth=scram-sha-256", "-E", "UTF8", "--no-sync"});
    std::filesystem::remove(pwfile);
    if (r.exitCode != 0) return *whyNot = "initdb: " + r.output, nullptr;
    r = AsAccount(s->account_, {s->bin_ + "/pg_ctl", "-D", s->dir_ + "/data", "-l", s->dir_ + "/log", "-w", "-o",
                                "-k " + s->dir_ + " -c listen_addresses='' -c fsync=off", "start"});
    if (r.exitCode != 0) return *whyNot = "pg_ctl start: " + r.output, nullptr;
    s->running_ = true;
    ::setenv("PGPASSWORD", s->password_.c_str(), 1);
    return s;
}

PgServer::~PgServer() {
    if (running_) AsAccount(account_, {bin_ + "/pg_ctl", "-D", dir_ + "/data", "-m", "immediate", "-w", "stop"});
    if (!account_.empty()) RunProcess({"userdel", account_}, 30s);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string PgServer::newDatabase() {
    const std::string name = "store" + std::to_string(++databases_);
    auto admin = fleet::OpenPostgres("postgresql:///postgres?host=" + dir_ + "&user=kestrane");
    admin->script("CREATE DATABASE " + name);
    return "postgresql:///" + name + "?host=" + dir_ + "&user=kestrane";
}

PgServer* SharedPgServer(std::string* whyNot) {
    static std::string why;
    static std::unique_ptr<PgServer> server = PgServer::Start(&why);
    static const bool cleanup = (std::atexit([] { server.reset(); }), true);
    (void)cleanup;
    *whyNot = why;
    return server.get();
}

}  // namespace kestrane::testing
