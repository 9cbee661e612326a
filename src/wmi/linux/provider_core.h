// The pieces every class of the Linux provider is built from: the context a
// collector reads through, typed instance rows, lazy cursors and the registry.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "wmi/linux/file_system.h"
#include "wmi/linux/parsers.h"
#include "wmi/provider.h"

namespace wmi::lnx {

// Data that does not change while the program runs (id databases), read at
// most once per provider.
class SharedCache {
public:
    // The text of the first readable file among paths, cached by key.
    const std::string& text(const FileSystem& fs, const std::string& key,
                            const std::vector<std::string>& paths, std::size_t maxBytes);

    // Stores this processor-time sample and returns the previous one (empty
    // at the first call): load is measured between two queries.
    std::map<int, CpuBusyTimes> exchangeCpuSample(std::map<int, CpuBusyTimes> now);

    // The live computer's text of path as read at most moments ago: a summary
    // asks several classes in a row for the same host name, mounts and
    // firmware table.
    std::optional<std::string> recent(const FileSystem& fs, const std::string& path, std::size_t maxBytes);

private:
    struct Recent {
        std::chrono::steady_clock::time_point at;
        std::optional<std::string> text;
    };
    std::mutex mutex_;
    std::map<std::string, std::string> texts_;
    std::map<std::string, Recent, std::less<>> recent_;
    std::map<int, CpuBusyTimes> lastCpuSample_;
};

// One query's view of the inspected computer.
class Context {
public:
    Context(std::shared_ptr<FileSystem> fs, std::shared_ptr<SharedCache> cache)
        : fs_(std::move(fs)), cache_(std::move(cache)) {}

    const FileSystem& fs() const { return *fs_; }
    std::shared_ptr<FileSystem> fsPtr() const { return fs_; }

    std::optional<std::string> read(const std::string& path, std::size_t maxBytes = 1 << 20) const {
        return fetch(path, maxBytes);
    }
    // The file's text trimmed; nothing when unreadable or empty.
    std::optional<std::string> readText(const std::string& path) const;
    std::optional<std::int64_t> readInt(const std::string& path) const;
    std::optional<std::uint64_t> readUInt(const std::string& path, int base = 10) const;

    // The host's name as the kernel has it, whole; nothing when unknown.
    std::optional<std::string> hostName() const;
    // Its first label, which WMI calls the computer's name.
    std::optional<std::string> shortHostName() const;
    // The kernel's machine architecture ("x86_64", "aarch64").
    std::optional<std::string> machine() const;
    // Offset of local time from UTC in minutes for a given instant; only
    // known for the live root (a copied tree has no clock of its own).
    std::optional<int> utcOffsetMinutes(std::int64_t epochSeconds) const;
    // A DMTF date-time for an instant, in local time on the live root and in
    // UTC ("+000") otherwise.
    std::string dmtf(std::int64_t epochSeconds) const;

    // pci.ids / usb.ids names (read once per provider).
    IdNames pciNames(unsigned vendor, unsigned device) const;
    IdNames usbNames(unsigned vendor, unsigned device) const;
    std::map<int, CpuBusyTimes> exchangeCpuSample(std::map<int, CpuBusyTimes> now) const {
        return cache_->exchangeCpuSample(std::move(now));
    }

    // Whether the reader looks at a property: false only when it named the
    // properties it reads and this is not among them.
    bool wants(std::string_view property) const {
        if (!only_) return true;
        for (const auto& p : *only_)
            if (EqualsNoCase(p, property)) return true;
        return false;
    }
    bool wantsAny(std::initializer_list<std::string_view> properties) const {
        for (auto p : properties)
            if (wants(p)) return true;
        return false;
    }
    void readsOnly(std::vector<std::string> properties) {
        only_ = std::make_shared<const std::vector<std::string>>(std::move(properties));
    }

private:
    std::optional<std::string> fetch(const std::string& path, std::size_t maxBytes) const;

    std::shared_ptr<FileSystem> fs_;
    std::shared_ptr<SharedCache> cache_;
    std::shared_ptr<const std::vector<std::string>> only_;
};

// DMTF "yyyymmddHHMMSS.mmmmmmsUUU" of a broken-down time and an offset.
std::string DmtfDateTime(int year, int month, int day, int hour, int minute, int second,
                         int offsetMinutes);
// The broken-down UTC time of an instant shifted by offsetMinutes, as DMTF.
std::string DmtfFromEpoch(std::int64_t epochSeconds, int offsetMinutes);

// Builds one instance with values checked against the class's CIM types.
// 64-bit integers become decimal strings, as WMI delivers them; a value of
// the wrong kind is a programming error and throws std::logic_error, while a
// number outside the property's range (damaged input) leaves it Null.
class Row {
public:
    explicit Row(SchemaPtr schema);

    Row& set(std::string_view name, Value v);
    // An absent optional leaves the property Null.
    template <class T>
    Row& set(std::string_view name, const std::optional<T>& v) {
        return v ? set(name, Value(*v)) : *this;
    }
    // Unsigned 64-bit figures, delivered as decimal strings.
    Row& setU64(std::string_view name, std::optional<std::uint64_t> v);
    // uint32 figures that may exceed the int range of callers' types.
    Row& setU32(std::string_view name, std::optional<std::uint64_t> v);
    Row& setStrings(std::string_view name, const std::vector<std::string>& v);
    Row& setInts(std::string_view name, const std::vector<int>& v);

    Object build() const&;
    // The last use of a row: its values move into the instance.
    Object build() &&;
    const ClassSchema& schema() const { return *schema_; }

private:
    SchemaPtr schema_;
    std::vector<Value> values_;
};

// Produces instances one at a time from a list of keys; a key whose device
// vanished (the producer returns nothing) is skipped.
class LazyCursor : public InstanceCursor {
public:
    using Producer = std::function<std::optional<Object>(const std::string& key)>;
    LazyCursor(std::vector<std::string> keys, Producer produce)
        : keys_(std::move(keys)), produce_(std::move(produce)) {}
    std::optional<Object> next() override;

private:
    std::vector<std::string> keys_;
    Producer produce_;
    std::size_t i_ = 0;
};

// A collector opens the instances of its class for one query.
using Collector = std::function<std::unique_ptr<InstanceCursor>(const Context&, const SchemaPtr&)>;

// Slow work a class's instances will need whatever properties are read
// (and that keeps its answer), started ahead when a caller announces the
// classes it is about to list.
using WarmUp = std::function<void(const Context&)>;
// Whether that work is still to do; a thread costs more than a quick answer.
using WarmUpNeeded = std::function<bool(const Context&)>;

struct ClassEntry {
    std::string name;
    Collector collect;
    WarmUp warmUp;
    WarmUpNeeded warmUpNeeded;
};

class Registry {
public:
    // The class's schema must be in the schema table.
    void add(std::string name, Collector collect, WarmUp warmUp = {}, WarmUpNeeded warmUpNeeded = {});
    const ClassEntry* find(std::string_view name) const;  // case-insensitive
    std::vector<std::string> names() const;

private:
    std::map<std::string, ClassEntry> byLowerName_;
};

// Each area of the provider adds its classes.
void RegisterSystemClasses(Registry& r);    // computer system, processor, BIOS, boards, caches
void RegisterOsClasses(Registry& r);        // operating system
void RegisterStorageClasses(Registry& r);   // disks, logical disks, CD-ROM drives
void RegisterDisplayClasses(Registry& r);   // display configuration, monitors, video
void RegisterDeviceClasses(Registry& r);    // input, resources, sound, USB, PCI
void RegisterPowerClasses(Registry& r);     // batteries and sensors
void RegisterNetworkClasses(Registry& r);   // network adapters
void RegisterSmbiosClasses(Registry& r);    // memory modules, slots, connectors, on-board devices
void RegisterPortClasses(Registry& r);      // serial ports, USB hubs, buses
void RegisterProcessClasses(Registry& r);   // processes and threads
void RegisterAccountClasses(Registry& r);   // users, groups, logon sessions
void RegisterServiceClasses(Registry& r);   // services and kernel modules
void RegisterOsSettingClasses(Registry& r); // boot, time, schedules, partitions, swap, routes, shares
void RegisterSoftwareClasses(Registry& r);  // installed packages
void RegisterEventLogClasses(Registry& r);  // the journal and text logs
void RegisterPerfClasses(Registry& r);      // performance counters
void RegisterPrintingClasses(Registry& r);  // printers from the print system
void RegisterStartMenuClasses(Registry& r); // the application menu as program groups

// Why values of a class may be missing here: the sources this user cannot
// read or this computer lacks, as short sentences (see Provider::reasons).
std::vector<std::string> MissingValueReasons(const Context& ctx, std::string_view className);

// Helpers shared by several areas.
std::unique_ptr<InstanceCursor> SingleInstance(Object o);
std::string FirstWord(const std::string& s);
// System name and creation class name every device carries.
void SetSystemKeys(Row& row, const Context& ctx, const char* className);

}  // namespace wmi::lnx
