#include "wmi/linux/provider_core.h"

#include <sys/utsname.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "wmi/schema/schema_table.h"

namespace wmi::lnx {

const std::string& SharedCache::text(const FileSystem& fs, const std::string& key,
                                     const std::vector<std::string>& paths, std::size_t maxBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts_.find(key);
    if (it != texts_.end()) return it->second;
    std::string content;
    for (const auto& p : paths) {
        if (auto t = fs.readFile(p, maxBytes)) {
            content = std::move(*t);
            break;
        }
    }
    return texts_.emplace(key, std::move(content)).first->second;
}

namespace {

// Files that describe the whole computer, seldom change and that several
// classes read. Not the memory and processor figures: each class shows them
// as they are when it is listed.
bool SharedMomentarily(std::string_view path) {
    static constexpr std::string_view kFiles[] = {"/proc/sys/kernel/hostname", "/proc/sys/kernel/arch",
                                                  "/proc/self/mountinfo", "/sys/devices/system/cpu/online",
                                                  "/sys/firmware/dmi/tables/DMI"};
    for (auto f : kFiles)
        if (path == f) return true;
    constexpr std::string_view cpu = "/sys/devices/system/cpu/cpu";
    return path.compare(0, cpu.size(), cpu) == 0 && path.find("/topology/") != std::string_view::npos;
}

}  // namespace

std::optional<std::string> SharedCache::recent(const FileSystem& fs, const std::string& path, std::size_t maxBytes) {
    // Long enough for one summary or one page of classes, short enough that
    // F5 a moment later reads afresh.
    constexpr auto kMoment = std::chrono::milliseconds(500);
    constexpr std::size_t kLimit = 4u << 20;
    if (maxBytes > kLimit) return fs.readFile(path, maxBytes);
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = recent_.find(path);
    if (it == recent_.end() || now - it->second.at > kMoment)
        it = recent_.insert_or_assign(path, Recent{now, fs.readFile(path, kLimit)}).first;
    const auto& t = it->second.text;
    if (t && t->size() > maxBytes) return t->substr(0, maxBytes);
    return t;
}

std::map<int, CpuBusyTimes> SharedCache::exchangeCpuSample(std::map<int, CpuBusyTimes> now) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::swap(lastCpuSample_, now);
    return now;
}

std::optional<std::string> Context::fetch(const std::string& path, std::size_t maxBytes) const {
    if (SharedMomentarily(path) && fs_->isLiveRoot()) return cache_->recent(*fs_, path, maxBytes);
    return fs_->readFile(path, maxBytes);
}

std::optional<std::string> Context::readText(const std::string& path) const {
    auto t = fetch(path, 64 * 1024);
    if (!t) return std::nullopt;
    std::string s = Trim(*t);
    if (s.empty()) return std::nullopt;
    return s;
}

std::optional<std::int64_t> Context::readInt(const std::string& path) const {
    auto t = fetch(path, 4096);
    return t ? ParseInt(*t) : std::nullopt;
}

std::optional<std::uint64_t> Context::readUInt(const std::string& path, int base) const {
    auto t = fetch(path, 4096);
    return t ? ParseUInt(*t, base) : std::nullopt;
}

std::optional<std::string> Context::hostName() const {
    auto h = readText("/proc/sys/kernel/hostname");
    if (!h) h = readText("/etc/hostname");
    return h;
}

std::optional<std::string> Context::shortHostName() const {
    auto h = hostName();
    if (!h) return std::nullopt;
    return h->substr(0, h->find('.'));
}

std::optional<std::string> Context::machine() const {
    if (auto a = readText("/proc/sys/kernel/arch")) return a;
    if (fs_->isLiveRoot()) {
        struct utsname u;
        if (::uname(&u) == 0) return std::string(u.machine);
    }
    return std::nullopt;
}

std::optional<int> Context::utcOffsetMinutes(std::int64_t epochSeconds) const {
    if (!fs_->isLiveRoot()) return std::nullopt;
    std::time_t t = static_cast<std::time_t>(epochSeconds);
    std::tm tm{};
    if (!::localtime_r(&t, &tm)) return std::nullopt;
    return static_cast<int>(tm.tm_gmtoff / 60);
}

std::string Context::dmtf(std::int64_t epochSeconds) const {
    return DmtfFromEpoch(epochSeconds, utcOffsetMinutes(epochSeconds).value_or(0));
}

IdNames Context::pciNames(unsigned vendor, unsigned device) const {
    const std::string& ids = cache_->text(*fs_, "pci.ids",
                                          {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids",
                                           "/usr/share/pci.ids"},
                                          8u << 20);
    return LookupIdNames(ids, vendor, device);
}

IdNames Context::usbNames(unsigned vendor, unsigned device) const {
    const std::string& ids = cache_->text(*fs_, "usb.ids",
                                          {"/usr/share/misc/usb.ids", "/usr/share/hwdata/usb.ids",
                                           "/var/lib/usbutils/usb.ids", "/usr/share/usb.ids"},
                                          8u << 20);
    return LookupIdNames(ids, vendor, device);
}

std::string DmtfDateTime(int year, int month, int day, int hour, int minute, int second, int offsetMinutes) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.000000%c%03d", year, month, day, hour, minute,
                  second, offsetMinutes < 0 ? '-' : '+', offsetMinutes < 0 ? -offsetMinutes : offsetMinutes);
    return buf;
}

std::string DmtfFromEpoch(std::int64_t epochSeconds, int offsetMinutes) {
    std::time_t t = static_cast<std::time_t>(epochSeconds + std::int64_t{offsetMinutes} * 60);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    return DmtfDateTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                        offsetMinutes);
}

Row::Row(SchemaPtr schema) : schema_(std::move(schema)), values_(schema_->size()) {}

namespace {

bool KindFits(int cim, const Value& v) {
    switch (cim) {
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_CHAR16:
    case CIM_REFERENCE:
    case CIM_SINT64:
    case CIM_UINT64:
        return v.isString();
    case CIM_BOOLEAN:
        return v.isBool();
    case CIM_REAL32:
    case CIM_REAL64:
        return v.isDouble();
    default:
        return v.isInt();
    }
}

Value Normalise(int cim, Value v) {
    if ((cim == CIM_SINT64 || cim == CIM_UINT64) && v.isInt()) return Value(std::to_string(v.asInt()));
    if ((cim == CIM_REAL32 || cim == CIM_REAL64) && v.isInt()) return Value(static_cast<double>(v.asInt()));
    return v;
}

}  // namespace

Row& Row::set(std::string_view name, Value v) {
    int i = schema_->indexOf(name);
    if (i < 0) throw std::logic_error(schema_->className() + " has no property " + std::string(name));
    const PropertyDecl& d = schema_->properties()[static_cast<std::size_t>(i)];
    if (v.isNull()) {
        values_[static_cast<std::size_t>(i)] = Value();
        return *this;
    }
    if (d.isArray) {
        if (!v.isArray()) throw std::logic_error(d.name + " expects an array");
        Value::Array items;
        for (const auto& e : v.asArray()) {
            Value n = Normalise(d.cimType, e);
            if (!KindFits(d.cimType, n)) throw std::logic_error(d.name + " array element of the wrong kind");
            items.push_back(std::move(n));
        }
        values_[static_cast<std::size_t>(i)] = Value(std::move(items));
        return *this;
    }
    v = Normalise(d.cimType, std::move(v));
    if (!KindFits(d.cimType, v)) throw std::logic_error(d.name + " value of the wrong kind");
    // A figure the type cannot hold came from damaged input, not from the
    // collector: it has no honest value.
    bool fits = true;
    if (d.cimType == CIM_UINT8) fits = v.asInt() >= 0 && v.asInt() <= 0xFF;
    if (d.cimType == CIM_UINT16) fits = v.asInt() >= 0 && v.asInt() <= 0xFFFF;
    if (d.cimType == CIM_UINT32) fits = v.asInt() >= 0 && v.asInt() <= 0xFFFFFFFFLL;
    if (d.cimType == CIM_SINT8) fits = v.asInt() >= -128 && v.asInt() <= 127;
    if (d.cimType == CIM_SINT16) fits = v.asInt() >= -32768 && v.asInt() <= 32767;
    if (d.cimType == CIM_SINT32) fits = v.asInt() >= INT32_MIN && v.asInt() <= INT32_MAX;
    values_[static_cast<std::size_t>(i)] = fits ? std::move(v) : Value();
    return *this;
}

Row& Row::setU64(std::string_view name, std::optional<std::uint64_t> v) {
    if (!v) return *this;
    return set(name, Value(std::to_string(*v)));
}

Row& Row::setU32(std::string_view name, std::optional<std::uint64_t> v) {
    if (!v || *v > 0xFFFFFFFFull) return *this;  // beyond uint32 the property has no honest value
    return set(name, Value(static_cast<long long>(*v)));
}

Row& Row::setStrings(std::string_view name, const std::vector<std::string>& v) {
    Value::Array a;
    for (const auto& s : v) a.emplace_back(s);
    return set(name, Value(std::move(a)));
}

Row& Row::setInts(std::string_view name, const std::vector<int>& v) {
    Value::Array a;
    for (int x : v) a.emplace_back(x);
    return set(name, Value(std::move(a)));
}

Object Row::build() const& { return Object(schema_, values_); }
Object Row::build() && { return Object(schema_, std::move(values_)); }

std::optional<Object> LazyCursor::next() {
    while (i_ < keys_.size()) {
        if (auto o = produce_(keys_[i_++])) return o;
    }
    return std::nullopt;
}

void Registry::add(std::string name, Collector collect, WarmUp warmUp, WarmUpNeeded warmUpNeeded) {
    // That every class has a schema is checked by the tests: looking them up
    // here would build every schema at each start.
    std::string key = ToLowerAscii(name);
    byLowerName_[key] = ClassEntry{std::move(name), std::move(collect), std::move(warmUp), std::move(warmUpNeeded)};
}

const ClassEntry* Registry::find(std::string_view name) const {
    auto it = byLowerName_.find(ToLowerAscii(name));
    return it == byLowerName_.end() ? nullptr : &it->second;
}

std::vector<std::string> Registry::names() const {
    std::vector<std::string> out;
    for (const auto& [k, e] : byLowerName_) out.push_back(e.name);
    return out;
}

std::unique_ptr<InstanceCursor> SingleInstance(Object o) {
    std::vector<Object> v;
    v.push_back(std::move(o));
    return std::make_unique<VectorCursor>(std::move(v));
}

std::string FirstWord(const std::string& s) {
    auto w = SplitWhitespace(s);
    return w.empty() ? std::string() : w[0];
}

void SetSystemKeys(Row& row, const Context& ctx, const char* className) {
    row.set("CreationClassName", className);
    if (row.schema().indexOf("SystemCreationClassName") >= 0) row.set("SystemCreationClassName", "Win32_ComputerSystem");
    if (row.schema().indexOf("SystemName") >= 0) row.set("SystemName", ctx.shortHostName());
}

}  // namespace wmi::lnx
