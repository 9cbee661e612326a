#include "wmi/ssh/ssh_client.h"

#include <algorithm>
#include <deque>
#include <map>
#include <libssh/libssh.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/sha.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/version.h"
#include "wmi/remote_protocol.h"
#include "wmi/snapshot/snapshot_detail.h"

namespace wmi::ssh {

namespace rp = remote;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kMaxBuffered = 16 * 1024 * 1024;  // prefetched answers held at once
constexpr int kSliceMs = 25;

std::string Lower(std::string s) { return ToLowerAscii(s); }

std::string LocalUserName() {
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
    return {};
}

std::string Sha256(const std::string& s) {
    unsigned char md[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(s.data()), s.size(), md);
    return std::string(reinterpret_cast<char*>(md), sizeof md);
}

// Quotes a word for the remote login's POSIX shell.
std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Remote text for a message: printable and short.
std::string Printable(std::string s, std::size_t max = 300) {
    s = snapshot_detail::ValidUtf8(s);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.size() > max) s = s.substr(0, max) + "...";
    return s;
}

std::string Where(const Target& t) {
    return t.port == 22 ? t.host : t.host + " port " + std::to_string(t.port);
}

Error Unavailable(const Target& t, const std::string& why) {
    return Error(RPC_S_SERVER_UNAVAILABLE, "SWbemLocator",
                 std::string(StandardDescription(RPC_S_SERVER_UNAVAILABLE)) + " SSH to " + Where(t) + ": " + why);
}

Error Denied(const std::string& why) {
    return Error(E_ACCESSDENIED_WIN32, "SWbemLocator", std::string(StandardDescription(E_ACCESSDENIED_WIN32)) + " " + why);
}

Error CallFailed(const std::string& host, const std::string& why) {
    return Error(RPC_S_CALL_FAILED, "SWbemObjectSet",
                 std::string(StandardDescription(RPC_S_CALL_FAILED)) + " The connection to " + host + " " + why);
}

// Set on the worker thread of Blocking: the waiting hook belongs to the
// caller's thread alone.
thread_local bool tlsInWorker = false;

void Wait(const Options& o) {
    if (o.whileWaiting && !tlsInWorker) o.whileWaiting();
}

// Runs a blocking libssh step on a worker thread while the caller's thread
// keeps its window painted; without a waiting hook it runs in place.
template <class F>
auto Blocking(const Options& o, F step) -> decltype(step()) {
    if (!o.whileWaiting || tlsInWorker) return step();
    using R = decltype(step());
    std::optional<R> result;
    std::exception_ptr failure;
    bool done = false;
    std::mutex m;
    std::thread worker([&] {
        tlsInWorker = true;
        std::optional<R> r;
        std::exception_ptr f;
        try {
            r.emplace(step());
        } catch (...) {
            f = std::current_exception();
        }
        std::lock_guard lock(m);
        result = std::move(r);
        failure = f;
        done = true;
    });
    while (true) {
        {
            std::lock_guard lock(m);
            if (done) break;
        }
        o.whileWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
    return std::move(*result);
}

}  // namespace

// One SSH connection to one computer with its exec channel running serve.
class Session {
public:
    Session(Target target, const std::string& password, Options options)
        : target_(std::move(target)), options_(std::move(options)), passwordKey_(Sha256(password)) {
        session_ = ssh_new();
        if (!session_) throw Unavailable(target_, "out of memory");
        try {
            open(password);
        } catch (...) {
            ssh_free(session_);
            session_ = nullptr;
            throw;
        }
    }

    ~Session() {
        closeChannel();
        if (session_) {
            ssh_disconnect(session_);
            ssh_free(session_);
        }
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool matches(const Target& t, const std::string& password, const Options& o) const {
        return t.host == target_.host && t.port == target_.port && t.user == target_.user &&
               Sha256(password) == passwordKey_ && o.remoteCli == options_.remoteCli &&
               o.connectTimeout == options_.connectTimeout && o.answerTimeout == options_.answerTimeout;
    }
    bool alive() const { return !broken_ && session_ && ssh_is_connected(session_); }
    void adopt(const Options& o) {
        options_.whileWaiting = o.whileWaiting;
        options_.unknownHost = o.unknownHost;
        options_.unknownHostAdvice = o.unknownHostAdvice;
        options_.idleClose = o.idleClose;
    }
    const Options& options() const { return options_; }
    const std::string& computer() const { return computer_; }

    bool inUse = false;
    Clock::time_point lastUsed = Clock::now();

    // Sends requests for classes whose answers are read later, all at once.
    void prefetch(const std::vector<std::string>& classes) {
        ensureChannel();
        std::string out;
        for (const auto& c : classes) {
            const std::string lower = Lower(c);
            bool have = std::any_of(pending_.begin(), pending_.end(),
                                    [&](const Pending& p) { return !p.claimed && p.lowerClass == lower; });
            if (have) continue;
            pending_.emplace_back(nextId_, lower, false);
            out += rp::ClassRequestLine(nextId_++, c);
        }
        write(out);
    }

    // Claims the answer for a class: one already asked for, or a new request.
    std::uint64_t request(const std::string& className) {
        ensureChannel();
        const std::string lower = Lower(className);
        for (auto& p : pending_)
            if (!p.claimed && p.lowerClass == lower && !p.overflow) {
                p.claimed = true;
                return p.id;
            }
        pending_.emplace_back(nextId_, lower, true);
        write(rp::ClassRequestLine(nextId_, className));
        return nextId_++;
    }

    // The next line of an answer.
    rp::AnswerLine line(std::uint64_t id) {
        while (true) {
            Pending* mine = find(id);
            if (!mine) throw CallFailed(target_.host, "lost track of an answer");
            if (!mine->lines.empty()) {
                rp::AnswerLine l = std::move(mine->lines.front());
                mine->lines.pop_front();
                buffered_ -= std::min(buffered_, l.json.size());
                return l;
            }
            // Answers come in the order they were asked for.
            auto head = std::find_if(pending_.begin(), pending_.end(), [](const Pending& p) { return !p.complete; });
            if (head == pending_.end()) throw CallFailed(target_.host, "lost track of an answer");
            rp::AnswerLine l = readAnswerLine();
            if (l.id != head->id) fail("sent an answer out of order");
            if (l.last) head->complete = true;
            if (head->id == id) return l;
            if (head->overflow) continue;
            const std::size_t weight = l.json.size() + 1;
            if (buffered_ + weight > kMaxBuffered) {
                head->overflow = true;
                for (auto& b : head->lines) buffered_ -= std::min(buffered_, b.json.size() + 1);
                head->lines.clear();
                continue;
            }
            buffered_ += weight;
            head->lines.push_back(std::move(l));
        }
    }

    // The reader of an answer is done with it; an answer left unread closes
    // the channel, which the next request opens again.
    void finish(std::uint64_t id, bool complete) {
        Pending* p = find(id);
        if (!p) return;
        if (!complete && !p->complete) {
            closeChannel();
            return;
        }
        pending_.erase(std::find_if(pending_.begin(), pending_.end(), [&](const Pending& q) { return q.id == id; }));
    }

    // A provider let go of the session: answers asked for and never claimed
    // are dropped.
    void release() {
        bool unread = std::any_of(pending_.begin(), pending_.end(), [](const Pending& p) { return !p.complete; });
        if (unread) closeChannel();
        pending_.clear();
        buffered_ = 0;
    }

private:
    struct Pending {
        Pending(std::uint64_t i, std::string c, bool cl) : id(i), lowerClass(std::move(c)), claimed(cl) {}
        std::uint64_t id;
        std::string lowerClass;
        bool claimed = false;
        bool complete = false;
        bool overflow = false;
        std::deque<rp::AnswerLine> lines;
    };

    Pending* find(std::uint64_t id) {
        for (auto& p : pending_)
            if (p.id == id) return &p;
        return nullptr;
    }

    [[noreturn]] void fail(const std::string& why) {
        broken_ = true;
        closeChannel();
        throw CallFailed(target_.host, why + ".");
    }

    void open(const std::string& password) {
        const std::string user = target_.user.empty() ? LocalUserName() : target_.user;
        const char* home = std::getenv("HOME");
        const std::string sshDir = std::string(home && *home ? home : "/") + "/.ssh";
        const std::string knownHosts = KnownHostsPath();
        int port = target_.port;
        long timeout = std::max<long>(1, static_cast<long>(options_.connectTimeout.count() + 999) / 1000);
        int yes = 1;
        bool no = false;
        ssh_options_set(session_, SSH_OPTIONS_HOST, target_.host.c_str());
        ssh_options_set(session_, SSH_OPTIONS_PORT, &port);
        ssh_options_set(session_, SSH_OPTIONS_USER, user.c_str());
        ssh_options_set(session_, SSH_OPTIONS_TIMEOUT, &timeout);
        ssh_options_set(session_, SSH_OPTIONS_NODELAY, &yes);
        // Our own settings only: a user's ssh_config may name proxies or
        // options this program cannot honour.
        ssh_options_set(session_, SSH_OPTIONS_PROCESS_CONFIG, &no);
        ssh_options_set(session_, SSH_OPTIONS_SSH_DIR, sshDir.c_str());
        ssh_options_set(session_, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str());

        int rc = Blocking(options_, [&] { return ssh_connect(session_); });
        if (rc != SSH_OK) throw Unavailable(target_, Printable(ssh_get_error(session_)));
        KeepAlive();
        verifyHostKey(knownHosts);
        authenticate(user, password);
        Blocking(options_, [&] {
            openChannel();
            return 0;
        });
    }

    // TCP keep-alives, so a computer that vanished is noticed while idle.
    void KeepAlive() {
        int fd = ssh_get_fd(session_);
        if (fd < 0) return;
        int on = 1, idle = 30, interval = 10, count = 3;
        setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    }

    void verifyHostKey(const std::string& knownHosts) {
        ssh_key key = nullptr;
        if (ssh_get_server_publickey(session_, &key) != SSH_OK) throw Unavailable(target_, "the server offered no host key");
        unsigned char* hash = nullptr;
        std::size_t hlen = 0;
        std::string fingerprint, type = ssh_key_type_to_char(ssh_key_type(key)) ? ssh_key_type_to_char(ssh_key_type(key)) : "";
        if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hlen) == SSH_OK) {
            if (char* f = ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, hlen)) {
                fingerprint = f;
                ssh_string_free_char(f);
            }
            ssh_clean_pubkey_hash(&hash);
        }
        ssh_key_free(key);
        const std::string name = Where(target_);
        switch (ssh_session_is_known_server(session_)) {
        case SSH_KNOWN_HOSTS_OK:
            return;
        case SSH_KNOWN_HOSTS_CHANGED:
        case SSH_KNOWN_HOSTS_OTHER: {
            int line = KnownHostsLine(knownHosts, target_.host, target_.port);
            throw Denied("The host key of " + name + " has changed: it now offers the " + type + " key " + fingerprint +
                         ", which does not match " +
                         (line ? "line " + std::to_string(line) + " of " : std::string("the key recorded in ")) +
                         knownHosts +
                         ". Someone may be intercepting the connection. If the computer's key was really "
                         "replaced, remove that line (ssh-keygen -R " + target_.host + ") and connect again.");
        }
        case SSH_KNOWN_HOSTS_NOT_FOUND:
        case SSH_KNOWN_HOSTS_UNKNOWN: {
            HostKeyQuestion q{target_.host, target_.port, type, fingerprint, knownHosts};
            HostKeyChoice choice = options_.unknownHost ? options_.unknownHost(q) : HostKeyChoice::Refuse;
            if (choice == HostKeyChoice::ConnectOnce) return;
            if (choice == HostKeyChoice::Remember) {
                EnsureDirectory(knownHosts);
                if (ssh_session_update_known_hosts(session_) != SSH_OK)
                    throw Denied("The host key of " + name + " could not be recorded in " + knownHosts + ": " +
                                 Printable(ssh_get_error(session_)));
                return;
            }
            std::string text = "The host key of " + name + " is not known: " + type + " " + fingerprint + ".";
            if (!options_.unknownHostAdvice.empty()) text += " " + options_.unknownHostAdvice;
            throw Denied(text);
        }
        case SSH_KNOWN_HOSTS_ERROR:
        default:
            throw Denied("The host key of " + name + " could not be checked against " + knownHosts + ": " +
                         Printable(ssh_get_error(session_)));
        }
    }

    static void EnsureDirectory(const std::string& file) {
        std::string dir = file.substr(0, file.rfind('/'));
        if (!dir.empty() && ::access(dir.c_str(), F_OK) != 0) ::mkdir(dir.c_str(), 0700);
    }

    void authenticate(const std::string& user, const std::string& password) {
        const std::string who = user + "@" + Where(target_);
        int rc = Blocking(options_, [&] {
            if (password.empty()) return ssh_userauth_publickey_auto(session_, nullptr, nullptr);
            int r = ssh_userauth_password(session_, nullptr, password.c_str());
            if (r == SSH_AUTH_DENIED && (ssh_userauth_list(session_, nullptr) & SSH_AUTH_METHOD_INTERACTIVE))
                r = KeyboardInteractive(password);
            return r;
        });
        if (rc == SSH_AUTH_SUCCESS) return;
        if (rc == SSH_AUTH_ERROR) throw Unavailable(target_, Printable(ssh_get_error(session_)));
        throw Denied(password.empty() ? "The SSH server refused the login of " + who +
                                            " with the SSH agent's and the default keys."
                                      : "The SSH server refused the login of " + who + " with this password.");
    }

    // Answers a server that asks for the password through its own prompts.
    int KeyboardInteractive(const std::string& password) {
        int rc = ssh_userauth_kbdint(session_, nullptr, nullptr);
        for (int rounds = 0; rc == SSH_AUTH_INFO && rounds < 4; ++rounds) {
            int n = ssh_userauth_kbdint_getnprompts(session_);
            for (int i = 0; i < n; ++i) {
                char echo = 0;
                const char* prompt = ssh_userauth_kbdint_getprompt(session_, static_cast<unsigned>(i), &echo);
                // Only a hidden prompt gets the password; anything else is
                // not ours to answer.
                const bool secret = !echo && prompt && std::string(prompt).find("assword") != std::string::npos;
                ssh_userauth_kbdint_setanswer(session_, static_cast<unsigned>(i), secret ? password.c_str() : "");
            }
            rc = ssh_userauth_kbdint(session_, nullptr, nullptr);
        }
        return rc;
    }

    void ensureChannel() {
        if (broken_) throw CallFailed(target_.host, "was lost.");
        if (!channel_) {
            pending_.clear();
            buffered_ = 0;
            Blocking(options_, [&] {
                openChannel();
                return 0;
            });
        }
    }

    // Opens the exec channel and exchanges greetings; errors are the
    // locator's, since they mean the computer cannot answer at all.
    void openChannel() {
        channel_ = ssh_channel_new(session_);
        if (!channel_) throw Unavailable(target_, Printable(ssh_get_error(session_)));
        std::string cmd = ShellQuote(options_.remoteCli) + " serve";
        if (ssh_channel_open_session(channel_) != SSH_OK || ssh_channel_request_exec(channel_, cmd.c_str()) != SSH_OK) {
            std::string why = Printable(ssh_get_error(session_));
            closeChannel();
            throw Unavailable(target_, "the server refused to run a command: " + why);
        }
        rawBuffer_.clear();
        scanned_ = 0;
        stderr_.clear();
        try {
            write(rp::HelloRequestLine(VersionText()));
            rp::Hello hello;
            // A login script may print before the program starts.
            for (int skipped = 0;; ++skipped) {
                std::optional<std::string> l = readRawLine(true);
                if (!l) throw MissingProgram();
                if (!l->empty() && (*l)[0] == '{') {
                    hello = rp::ParseHello(*l);
                    break;
                }
                if (skipped > 100) throw rp::ProtocolError("it printed no greeting");
            }
            if (hello.protocol != rp::kProtocolVersion)
                throw Error(WBEM_E_PROVIDER_LOAD_FAILURE, "SWbemLocator",
                            std::string(StandardDescription(WBEM_E_PROVIDER_LOAD_FAILURE)) + ": Kestrane " +
                                hello.version + " on " + target_.host + " speaks protocol " +
                                std::to_string(hello.protocol) + ", this one speaks " +
                                std::to_string(rp::kProtocolVersion) +
                                ". Install the same version of kestrane-cli there.");
            computer_ = hello.computer;
        } catch (const rp::ProtocolError& e) {
            closeChannel();
            throw Error(WBEM_E_PROVIDER_LOAD_FAILURE, "SWbemLocator",
                        std::string(StandardDescription(WBEM_E_PROVIDER_LOAD_FAILURE)) + ": " + options_.remoteCli +
                            " on " + target_.host + " did not answer as Kestrane does (" + e.what() + ").");
        } catch (...) {
            closeChannel();
            throw;
        }
    }

    Error MissingProgram() {
        int status = -1;
        if (channel_ && ssh_channel_is_eof(channel_)) status = ssh_channel_get_exit_status(channel_);
        std::string said = Printable(stderr_);
        std::string head = std::string(StandardDescription(WBEM_E_PROVIDER_LOAD_FAILURE)) + ": ";
        if (status == 127 || status == 126)
            return Error(WBEM_E_PROVIDER_LOAD_FAILURE, "SWbemLocator",
                         head + "Kestrane is not installed on " + target_.host + ": \"" + options_.remoteCli +
                             "\" was not found" + (options_.remoteCli.find('/') == std::string::npos ? " in the login's PATH" : "") +
                             " there. Install the kestrane-cli package on " + target_.host +
                             ", or name the program's path (kestrane-cli --remote-cli PATH, or Remote/CliPath in the "
                             "settings)." + (said.empty() ? "" : " The computer said: " + said));
        return Error(WBEM_E_PROVIDER_LOAD_FAILURE, "SWbemLocator",
                     head + options_.remoteCli + " serve on " + target_.host + " ended without answering" +
                         (status >= 0 ? " (exit status " + std::to_string(status) + ")" : std::string()) +
                         (said.empty() ? "." : ": " + said));
    }

    static std::string VersionText() {
        return std::to_string(kestrane::kVersionMajor) + "." + std::to_string(kestrane::kVersionMinor) + "." +
               std::to_string(kestrane::kVersionRevision);
    }

    void closeChannel() {
        if (channel_) {
            ssh_channel_close(channel_);
            ssh_channel_free(channel_);
            channel_ = nullptr;
        }
        pending_.clear();
        buffered_ = 0;
        rawBuffer_.clear();
        scanned_ = 0;
    }

    void write(const std::string& data) {
        if (data.empty()) return;
        std::size_t done = 0;
        while (done < data.size()) {
            int n = ssh_channel_write(channel_, data.data() + done, static_cast<uint32_t>(data.size() - done));
            if (n <= 0) {
                if (greeted()) fail("was lost while sending a request");
                closeChannel();
                throw Unavailable(target_, "the connection was lost");
            }
            done += static_cast<std::size_t>(n);
        }
    }

    bool greeted() const { return !computer_.empty() || !pending_.empty(); }

    // Keeps what the remote program says on its error stream (bounded), so
    // its window never fills and a failure can be quoted.
    void drainStderr() {
        char buf[4096];
        int n;
        while ((n = ssh_channel_read_nonblocking(channel_, buf, sizeof buf, 1)) > 0)
            if (stderr_.size() < 4096) stderr_.append(buf, static_cast<std::size_t>(n));
    }

    // One line of output, or nothing at the end of the stream.
    std::optional<std::string> readRawLine(bool greeting) {
        Clock::time_point lastData = Clock::now();
        const auto limit = greeting ? options_.connectTimeout : options_.answerTimeout;
        while (true) {
            std::size_t nl = rawBuffer_.find('\n', scanned_);
            if (nl != std::string::npos) {
                std::string l = rawBuffer_.substr(0, nl);
                rawBuffer_.erase(0, nl + 1);
                scanned_ = 0;
                return l;
            }
            scanned_ = rawBuffer_.size();
            if (rawBuffer_.size() > rp::kMaxAnswerLine) {
                if (greeting) throw rp::ProtocolError("its first line is too long");
                fail("sent a line longer than " + std::to_string(rp::kMaxAnswerLine / (1024 * 1024)) + " MB");
            }
            char buf[65536];
            int n = ssh_channel_read_timeout(channel_, buf, sizeof buf, 0, kSliceMs);
            drainStderr();
            if (n > 0) {
                rawBuffer_.append(buf, static_cast<std::size_t>(n));
                lastData = Clock::now();
                continue;
            }
            if (n == SSH_ERROR) {
                if (greeting) throw Unavailable(target_, "the connection was lost");
                fail("was lost in the middle of an answer");
            }
            if (ssh_channel_is_eof(channel_) || !ssh_channel_is_open(channel_)) {
                // Whatever stderr still holds arrived with the end.
                char e[4096];
                int k;
                while ((k = ssh_channel_read_timeout(channel_, e, sizeof e, 1, 0)) > 0)
                    if (stderr_.size() < 4096) stderr_.append(e, static_cast<std::size_t>(k));
                return std::nullopt;
            }
            if (Clock::now() - lastData > limit) {
                if (greeting) throw Unavailable(target_, "the remote program did not answer in time");
                fail("timed out: the computer stopped answering");
            }
            Wait(options_);
        }
    }

    rp::AnswerLine readAnswerLine() {
        std::optional<std::string> l = readRawLine(false);
        if (!l) {
            std::string said = Printable(stderr_);
            fail(said.empty() ? "ended in the middle of an answer" : "ended in the middle of an answer: " + said);
        }
        try {
            return rp::ParseAnswerLine(*l);
        } catch (const rp::ProtocolError& e) {
            fail(std::string("sent an answer that cannot be read: ") + e.what());
        }
    }

    Target target_;
    Options options_;
    std::string passwordKey_;  // SHA-256 of the password, to recognise the same login
    ssh_session session_ = nullptr;
    ssh_channel channel_ = nullptr;
    std::string computer_;
    std::string rawBuffer_;
    std::size_t scanned_ = 0;
    std::string stderr_;
    std::deque<Pending> pending_;
    std::size_t buffered_ = 0;
    std::uint64_t nextId_ = 1;
    bool broken_ = false;
};

namespace {

// Sessions kept between listings, while their connection strings stay the same.
struct Pool {
    std::mutex mutex;
    std::vector<std::shared_ptr<Session>> sessions;
};

Pool& ThePool() {
    static Pool* pool = new Pool;  // lives to the end: sessions may be let go during exit
    return *pool;
}

// Why values are missing, per class (lower case), as the answers' ends told.
using ReasonMap = std::map<std::string, std::vector<std::string>>;

class SshCursor : public InstanceCursor {
public:
    SshCursor(std::shared_ptr<Session> s, std::uint64_t id, std::string lowerClass, std::shared_ptr<ReasonMap> reasons)
        : session_(std::move(s)), reader_(id), id_(id), lowerClass_(std::move(lowerClass)), reasons_(std::move(reasons)) {}
    ~SshCursor() override { session_->finish(id_, reader_.done()); }

    std::optional<Object> next() override {
        while (!reader_.done()) {
            rp::AnswerLine l = session_->line(id_);
            try {
                // A remote provider's error (wmi::Error) ends the answer
                // and passes through unchanged; the session goes on.
                auto obj = reader_.feed(l);
                if (reader_.done()) (*reasons_)[lowerClass_] = reader_.reasons();
                if (obj) return obj;
            } catch (const rp::ProtocolError& e) {
                session_->finish(id_, false);
                throw CallFailed(session_->computer(), std::string("sent an answer that cannot be read: ") + e.what() + ".");
            }
        }
        return std::nullopt;
    }

private:
    std::shared_ptr<Session> session_;
    rp::AnswerReader reader_;
    std::uint64_t id_;
    std::string lowerClass_;
    std::shared_ptr<ReasonMap> reasons_;
};

class SshProvider : public Provider {
public:
    explicit SshProvider(std::shared_ptr<Session> s) : session_(std::move(s)) {}
    ~SshProvider() override {
        std::lock_guard lock(ThePool().mutex);
        session_->release();
        session_->inUse = false;
        session_->lastUsed = Clock::now();
    }

    std::unique_ptr<InstanceCursor> enumerate(std::string_view className) override {
        std::uint64_t id = session_->request(std::string(className));
        return std::make_unique<SshCursor>(session_, id, Lower(std::string(className)), reasons_);
    }

    void prefetch(const std::vector<std::string>& classNames) override { session_->prefetch(classNames); }
    std::string computerName() const override { return session_->computer(); }
    std::vector<std::string> reasons(std::string_view className) override {
        auto it = reasons_->find(Lower(std::string(className)));
        return it == reasons_->end() ? std::vector<std::string>{} : it->second;
    }

private:
    std::shared_ptr<Session> session_;
    std::shared_ptr<ReasonMap> reasons_ = std::make_shared<ReasonMap>();
};

void CloseIdleLocked(Pool& pool, bool all) {
    const auto now = Clock::now();
    std::erase_if(pool.sessions, [&](const std::shared_ptr<Session>& s) {
        if (s->inUse) return false;
        return all || !s->alive() || now - s->lastUsed >= s->options().idleClose;
    });
}

}  // namespace

std::shared_ptr<Provider> Connect(const std::string& name, const std::string& user, const std::string& password,
                                  const Options& options) {
    std::string why;
    std::optional<Target> t = ParseTarget(name, &why);
    if (!t) {
        Target shown{"", name, 22};
        throw Unavailable(shown, why);
    }
    if (t->user.empty()) t->user = user;
    if (t->user.empty()) t->user = LocalUserName();
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        CloseIdleLocked(pool, false);
        for (auto& s : pool.sessions)
            if (!s->inUse && s->matches(*t, password, options)) {
                s->inUse = true;
                s->adopt(options);
                return std::make_shared<SshProvider>(s);
            }
    }
    auto s = std::make_shared<Session>(*t, password, options);
    s->inUse = true;
    std::lock_guard lock(pool.mutex);
    pool.sessions.push_back(s);
    return std::make_shared<SshProvider>(s);
}

void CloseIdleSessions() {
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    CloseIdleLocked(pool, false);
}

void CloseAllSessions() {
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    CloseIdleLocked(pool, true);
}

}  // namespace wmi::ssh
