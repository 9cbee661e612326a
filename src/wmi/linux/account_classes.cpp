// Accounts, groups and logon sessions from /etc/passwd, /etc/group,
// /etc/shadow (root only), utmp and lastlog. SIDs follow Samba's mapping of
// Unix ids: S-1-22-1-<uid> for users, S-1-22-2-<gid> for groups.
#include "wmi/linux/os_common.h"
#include "wmi/schema/schema_table.h"

namespace wmi::lnx {

namespace {

constexpr int kSidTypeUser = 1;
constexpr int kSidTypeAlias = 4;  // a group local to the computer

struct AccountData {
    std::optional<std::string> domain;
    std::vector<PasswdEntry> users;
    std::vector<GroupEntry> groups;
    std::map<std::string, ShadowEntry> shadow;  // empty when unreadable
    bool shadowReadable = false;
    std::uint32_t uidMin = 1000, uidMax = 60000;
    std::optional<std::int64_t> today;  // days since 1970, live root only

    // Root and the ids login.defs gives people; the rest serve the system.
    bool isPerson(const PasswdEntry& u) const { return u.uid == 0 || (u.uid >= uidMin && u.uid <= uidMax); }
    const ShadowEntry* shadowOf(const std::string& name) const {
        auto it = shadow.find(name);
        return it == shadow.end() ? nullptr : &it->second;
    }
};

AccountData ReadAccounts(const Context& ctx) {
    AccountData a;
    a.domain = ctx.shortHostName();
    if (auto t = ctx.read("/etc/passwd")) a.users = ParsePasswd(*t);
    if (auto t = ctx.read("/etc/group")) a.groups = ParseGroup(*t);
    if (auto t = ctx.read("/etc/shadow")) {
        a.shadowReadable = true;
        for (auto& e : ParseShadow(*t)) a.shadow.emplace(e.name, e);
    }
    if (auto t = ctx.read("/etc/login.defs", 256 * 1024)) {
        auto kv = ParseSpaceSeparatedKeys(*t);
        if (auto v = ParseUInt(kv["UID_MIN"]); v && *v <= 0xFFFFFFFFull) a.uidMin = static_cast<std::uint32_t>(*v);
        if (auto v = ParseUInt(kv["UID_MAX"]); v && *v <= 0xFFFFFFFFull) a.uidMax = static_cast<std::uint32_t>(*v);
    }
    if (auto now = NowSeconds(ctx)) a.today = static_cast<std::int64_t>(*now) / 86400;
    return a;
}

std::string FullNameOf(const PasswdEntry& u) { return u.gecos.substr(0, u.gecos.find(',')); }

std::optional<std::string> GecosRest(const PasswdEntry& u) {
    std::size_t c = u.gecos.find(',');
    if (c == std::string::npos) return std::nullopt;
    std::string rest = u.gecos.substr(c + 1);
    if (rest.find_first_not_of(',') == std::string::npos) return std::nullopt;
    return rest;
}

void AccountCommon(Row& r, const AccountData& a, const std::string& name, const std::string& sid, int sidType) {
    r.set("Name", name).set("Domain", a.domain).set("Caption", AccountCaption(a.domain, name));
    r.set("LocalAccount", true).set("SID", sid).set("SIDType", sidType);
}

Object UserRow(const SchemaPtr& schema, const AccountData& a, const PasswdEntry& u) {
    Row r(schema);
    AccountCommon(r, a, u.name, "S-1-22-1-" + std::to_string(u.uid), kSidTypeUser);
    r.set("Description", GecosRest(u));
    // Service accounts (Win32_SystemAccount) carry no user-account fields.
    bool userFields = schema->indexOf("AccountType") >= 0;
    if (userFields) {
        if (!FullNameOf(u).empty()) r.set("FullName", FullNameOf(u));
        r.set("AccountType", 512);  // a normal account
    }
    bool degraded = false;
    if (const ShadowEntry* s = a.shadowOf(u.name)) {
        // "!" in front of the hash is how passwd -l and usermod -L lock; "*"
        // or "!" alone means no password was ever set (root on Debian).
        // passwd -S calls both locked: no password logon is possible, which
        // is nearest to a lockout. Disabling is an expiry day in the past,
        // how usermod --expiredate and passwd's manual disable an account.
        bool locked = !s->password.empty() && (s->password[0] == '!' || s->password[0] == '*');
        bool expired = s->expireDay && a.today && *s->expireDay <= *a.today;
        if (userFields) {
            r.set("Lockout", locked);
            r.set("PasswordRequired", !s->password.empty());
            r.set("PasswordExpires", s->maxDays.has_value() && *s->maxDays < 99999);
            if (!s->expireDay) r.set("Disabled", false);
            else if (a.today) r.set("Disabled", expired);
        }
        degraded = locked || expired;
    }
    if (a.shadowReadable) r.set("Status", degraded ? "Degraded" : "OK");
    return r.build();
}

Object GroupRow(const SchemaPtr& schema, const AccountData& a, const GroupEntry& g) {
    Row r(schema);
    AccountCommon(r, a, g.name, "S-1-22-2-" + std::to_string(g.gid), kSidTypeAlias);
    r.set("Status", "OK");
    return r.build();
}

std::unique_ptr<InstanceCursor> UserAccounts(const Context& ctx, const SchemaPtr& schema) {
    AccountData a = ReadAccounts(ctx);
    std::vector<Object> out;
    for (const auto& u : a.users)
        if (a.isPerson(u)) out.push_back(UserRow(schema, a, u));
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> SystemAccounts(const Context& ctx, const SchemaPtr& schema) {
    AccountData a = ReadAccounts(ctx);
    std::vector<Object> out;
    for (const auto& u : a.users)
        if (!a.isPerson(u)) out.push_back(UserRow(schema, a, u));
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> Groups(const Context& ctx, const SchemaPtr& schema) {
    AccountData a = ReadAccounts(ctx);
    std::vector<Object> out;
    for (const auto& g : a.groups) out.push_back(GroupRow(schema, a, g));
    return std::make_unique<VectorCursor>(std::move(out));
}

// The abstract class answers with the instances of its subclasses, one
// subclass after the other, as WMI does.
std::unique_ptr<InstanceCursor> Accounts(const Context& ctx, const SchemaPtr&) {
    AccountData a = ReadAccounts(ctx);
    auto user = LookupSchema("Win32_UserAccount"), sys = LookupSchema("Win32_SystemAccount"),
         group = LookupSchema("Win32_Group");
    std::vector<Object> out;
    for (const auto& u : a.users)
        if (a.isPerson(u)) out.push_back(UserRow(user, a, u));
    for (const auto& u : a.users)
        if (!a.isPerson(u)) out.push_back(UserRow(sys, a, u));
    for (const auto& g : a.groups) out.push_back(GroupRow(group, a, g));
    return std::make_unique<VectorCursor>(std::move(out));
}

std::optional<std::string> ReadUtmp(const Context& ctx) { return ReadFirst(ctx, {"/run/utmp", "/var/run/utmp"}, 4 << 20); }

std::unique_ptr<InstanceCursor> LogonSessions(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto utmp = ReadUtmp(ctx);
    if (!utmp) return std::make_unique<VectorCursor>(std::move(out));
    for (const auto& u : ParseUtmpRecords(*utmp)) {
        if (u.type != 7 || u.user.empty()) continue;  // USER_PROCESS only
        Row r(schema);
        // The kernel's audit session of the login process names the session
        // where it is set; otherwise the login process itself does.
        std::string id = std::to_string(u.pid);
        if (auto s = ctx.readUInt("/proc/" + std::to_string(u.pid) + "/sessionid"); s && *s != 0xFFFFFFFFull)
            id = std::to_string(*s);
        r.set("LogonId", id);
        if (u.seconds > 0) r.set("StartTime", ctx.dmtf(u.seconds));  // 0: not recorded
        // A host of ":0" is a local X display; any other host is a remote
        // login (ssh, telnet, an X display elsewhere).
        bool local = u.host.empty() || u.host[0] == ':';
        r.setU32("LogonType", local ? 2 : 10);  // interactive, remote interactive
        r.set("Caption", u.user + " on " + u.line);
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> LoginProfiles(const Context& ctx, const SchemaPtr& schema) {
    AccountData a = ReadAccounts(ctx);
    auto lastlog = ctx.read("/var/log/lastlog", 64u << 20);
    std::vector<Object> out;
    for (const auto& u : a.users) {
        if (!a.isPerson(u)) continue;
        Row r(schema);
        r.set("Name", AccountCaption(a.domain, u.name)).set("Caption", u.name);
        if (!FullNameOf(u).empty()) r.set("FullName", FullNameOf(u));
        r.set("Comment", GecosRest(u));
        r.set("HomeDirectory", u.home).set("Profile", u.home);
        r.setU32("UserId", u.uid).setU32("PrimaryGroupId", u.gid);
        r.set("UserType", "Normal Account");
        r.setU32("Privileges", u.uid == 0 ? 2 : 1);  // administrator, user
        if (lastlog)
            if (auto l = LastlogFor(*lastlog, u.uid); l && l->time > 0) r.set("LastLogon", ctx.dmtf(l->time));
        if (const ShadowEntry* s = a.shadowOf(u.name)) {
            if (s->expireDay) r.set("AccountExpires", ctx.dmtf(*s->expireDay * 86400));
            if (s->lastChange && *s->lastChange > 0 && s->maxDays && *s->maxDays < 99999)
                r.set("PasswordExpires", ctx.dmtf((*s->lastChange + *s->maxDays) * 86400));
        }
        out.push_back(r.build());
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterAccountClasses(Registry& r) {
    r.add("Win32_Account", Accounts);
    r.add("Win32_UserAccount", UserAccounts);
    r.add("Win32_SystemAccount", SystemAccounts);
    r.add("Win32_Group", Groups);
    r.add("Win32_LogonSession", LogonSessions);
    r.add("Win32_NetworkLoginProfile", LoginProfiles);
}

}  // namespace wmi::lnx
