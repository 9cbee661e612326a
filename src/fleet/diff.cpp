#include "fleet/diff.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "format/format.h"
#include "wmi/schema/class_keys.h"

namespace kestrane::fleet {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The one table of properties that change by themselves. A class pattern
// ending in '*' covers every class that begins with it; a property "*" every
// property of the class but its identity (Name, Caption, Description).
struct VolatileEntry {
    std::string_view classPattern;
    std::string_view properties;  // separated by spaces
};
constexpr VolatileEntry kVolatile[] = {
    {"Win32_OperatingSystem",
     "FreePhysicalMemory FreeVirtualMemory FreeSpaceInPagingFiles LocalDateTime NumberOfProcesses NumberOfUsers"},
    {"Win32_LogicalDisk", "FreeSpace"},
    {"Win32_MappedLogicalDisk", "FreeSpace"},
    {"Win32_Process",
     "KernelModeTime UserModeTime WorkingSetSize PeakWorkingSetSize PageFaults PageFileUsage PeakPageFileUsage "
     "PrivatePageCount VirtualSize PeakVirtualSize ThreadCount HandleCount ReadOperationCount WriteOperationCount "
     "OtherOperationCount ReadTransferCount WriteTransferCount OtherTransferCount QuotaNonPagedPoolUsage "
     "QuotaPagedPoolUsage QuotaPeakNonPagedPoolUsage QuotaPeakPagedPoolUsage ExecutionState Status"},
    {"Win32_Thread", "ElapsedTime KernelModeTime UserModeTime ThreadState ThreadWaitReason Priority"},
    {"Win32_Processor", "CurrentClockSpeed LoadPercentage CurrentVoltage"},
    {"Win32_PageFileUsage", "CurrentUsage PeakUsage"},
    {"Win32_Battery", "EstimatedChargeRemaining EstimatedRunTime BatteryStatus TimeOnBattery TimeToFullCharge"},
    {"Win32_PortableBattery", "EstimatedChargeRemaining EstimatedRunTime BatteryStatus TimeOnBattery"},
    {"Win32_NTEventlogFile", "NumberOfRecords FileSize LastModified LastAccessed"},
    {"Win32_NetworkLoginProfile", "LastLogon NumberOfLogons BadPasswordCount"},
    {"Win32_ServerSession", "ActiveTime IdleTime"},
    {"Win32_ServerConnection", "ActiveTime"},
    {"Win32_TemperatureProbe", "CurrentReading"},
    {"Win32_VoltageProbe", "CurrentReading"},
    {"Win32_CurrentProbe", "CurrentReading"},
    {"Win32_Directory", "LastAccessed"},
    {"Win32_CurrentTime", "*"},
    {"Win32_LocalTime", "*"},
    {"Win32_UTCTime", "*"},
    {"Win32_PerfRawData*", "*"},
    {"Win32_PerfFormattedData*", "*"},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool ClassMatches(std::string_view pattern, std::string_view className) {
    if (!pattern.empty() && pattern.back() == '*') {
        pattern.remove_suffix(1);
        return className.size() >= pattern.size() && EqualNoCase(className.substr(0, pattern.size()), pattern);
    }
    return EqualNoCase(pattern, className);
}

struct Shown {
    std::vector<int> index;
    std::vector<std::string> lower;
    // The class's keys this schema has: the key's lower-case name, its index
    // in the schema and its place among the compared properties (or -1).
    struct Key {
        std::string lower;
        int index, shown;
    };
    std::vector<Key> keys;
};

bool SameDecl(const wmi::PropertyDecl& a, const wmi::PropertyDecl& b) {
    return a.name == b.name && a.cimType == b.cimType && a.isArray == b.isArray && a.origin == b.origin;
}

// An instance's compared properties, each formatted only when asked: most
// values of a matched pair are the same raw value on both sides, and the
// same declaration formats the same value to the same text.
struct Formatted {
    const wmi::Object* object = nullptr;
    const Shown* shown = nullptr;
    std::string_view className;
    mutable std::vector<std::optional<std::string>> texts;  // "" for Null

    std::size_t size() const { return shown->index.size(); }
    const wmi::PropertyDecl& decl(std::size_t k) const {
        return object->schema().properties()[static_cast<std::size_t>(shown->index[k])];
    }
    const std::string& name(std::size_t k) const { return decl(k).name; }
    const wmi::Value& value(std::size_t k) const { return object->values()[static_cast<std::size_t>(shown->index[k])]; }
    const std::string& text(std::size_t k) const;

    // The index of a property by its lower-case name; instances of one class
    // nearly always list the same properties, so `hint` is tried first.
    std::optional<std::size_t> find(const std::string& lowerName, std::size_t hint) const {
        const auto& lower = shown->lower;
        if (hint < lower.size() && lower[hint] == lowerName) return hint;
        for (std::size_t i = 0; i < lower.size(); ++i)
            if (lower[i] == lowerName) return i;
        return std::nullopt;
    }
};

}  // namespace

std::string ValueText(const wmi::Property& p, std::string_view className) {
    if (p.value().isNull()) return "";
    if (p.isArray()) {
        JoiningSink sink;
        FormatPropertyValue(p, sink, "", "", className);
        return sink.joined();
    }
    NullSink sink;
    return FormatPropertyValue(p, sink, "", "", className);
}

namespace {

std::string Text(const wmi::Property& p, std::string_view className) { return ValueText(p, className); }

const std::string& Formatted::text(std::size_t k) const {
    if (texts.empty()) texts.resize(size());
    if (!texts[k]) texts[k] = Text(wmi::Property(decl(k), value(k)), className);
    return *texts[k];
}

std::vector<wmi::Object> ReadAll(wmi::Provider& p, const std::string& className) {
    std::vector<wmi::Object> out;
    try {
        auto cursor = p.enumerate(className);
        while (auto o = cursor->next()) out.push_back(std::move(*o));
    } catch (const wmi::Error& e) {
        if (e.unsignedNumber() != wmi::WBEM_E_INVALID_CLASS) throw;
        out.clear();
    }
    return out;
}

}  // namespace

bool IsVolatile(std::string_view className, std::string_view property) {
    for (const auto& e : kVolatile) {
        if (!ClassMatches(e.classPattern, className)) continue;
        if (e.properties == "*")
            return !EqualNoCase(property, "name") && !EqualNoCase(property, "caption") &&
                   !EqualNoCase(property, "description");
        std::string_view rest = e.properties;
        while (!rest.empty()) {
            const std::size_t sp = rest.find(' ');
            if (EqualNoCase(rest.substr(0, sp), property)) return true;
            if (sp == std::string_view::npos) break;
            rest.remove_prefix(sp + 1);
        }
    }
    return false;
}

namespace {
const std::string kNull;
}  // namespace

std::vector<ClassDiff> Diff(wmi::Provider& a, wmi::Provider& b, const std::vector<std::string>& classNames,
                            const DiffOptions& options) {
    std::vector<ClassDiff> out;
    for (const std::string& className : classNames) {
        const auto before = ReadAll(a, className);
        const auto after = ReadAll(b, className);
        const std::vector<std::string> keys = wmi::schema::ClassKeys(className);

        // Every instance with the properties compared; the volatile table is
        // asked once per property name, and each schema is looked at once.
        std::map<std::string, bool, std::less<>> volatileByName;
        std::map<const wmi::ClassSchema*, Shown> shownBySchema;
        auto format = [&](const wmi::Object& o) {
            auto [it, fresh] = shownBySchema.try_emplace(&o.schema());
            if (fresh) {
                const auto& decls = o.schema().properties();
                for (std::size_t i = 0; i < decls.size(); ++i) {
                    if (!options.all) {
                        auto v = volatileByName.find(decls[i].name);
                        if (v == volatileByName.end())
                            v = volatileByName.emplace(decls[i].name, IsVolatile(className, decls[i].name)).first;
                        if (v->second) continue;
                    }
                    it->second.index.push_back(static_cast<int>(i));
                    it->second.lower.push_back(Lower(decls[i].name));
                }
                for (const auto& name : keys) {
                    const int idx = o.schema().indexOf(name);
                    if (idx < 0) continue;
                    const auto at = std::find(it->second.index.begin(), it->second.index.end(), idx);
                    it->second.keys.push_back({Lower(name), idx,
                                               at == it->second.index.end()
                                                   ? -1
                                                   : static_cast<int>(at - it->second.index.begin())});
                }
            }
            return Formatted{&o, &it->second, className, {}};
        };
        // Keys compare without regard to letter case, as WMI compares them.
        auto keyOf = [&](const wmi::Object& o, const Formatted& f) {
            std::string k;
            if (keys.empty()) {
                for (std::size_t i = 0; i < f.size(); ++i) k += f.name(i) + '=' + f.text(i) + '\x1f';
                return k;
            }
            for (const auto& key : f.shown->keys) {
                const std::string text =
                    key.shown >= 0 ? f.text(static_cast<std::size_t>(key.shown))
                                   : Text(wmi::Property(o.schema().properties()[key.index], o.values()[key.index]), className);
                k += key.lower;
                k += '=';
                for (char c : text) k += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                k += '\x1f';
            }
            return k;
        };
        auto shownKey = [&](const wmi::Object& o, std::size_t ordinal) {
            std::string k;
            for (const auto& name : keys) {
                const int idx = o.schema().indexOf(name);
                if (idx < 0) continue;
                if (!k.empty()) k += ", ";
                k += name + '=' + Text(wmi::Property(o.schema().properties()[idx], o.values()[idx]), className);
            }
            return k.empty() ? "#" + std::to_string(ordinal + 1) : k;
        };

        std::vector<Formatted> fb, fa;
        for (const auto& o : before) fb.push_back(format(o));
        for (const auto& o : after) fa.push_back(format(o));
        std::multimap<std::string, std::size_t> afterByKey;
        for (std::size_t i = 0; i < after.size(); ++i) afterByKey.emplace(keyOf(after[i], fa[i]), i);

        ClassDiff cd{className, {}};
        std::vector<bool> matched(after.size(), false);
        std::vector<std::optional<std::size_t>> partner(before.size());
        for (std::size_t i = 0; i < before.size(); ++i) {
            auto it = afterByKey.find(keyOf(before[i], fb[i]));
            if (it == afterByKey.end()) continue;
            partner[i] = it->second;
            matched[it->second] = true;
            afterByKey.erase(it);
        }
        // One instance each side (a computer's BIOS, its operating system)
        // is the same thing even when a key value changed.
        if (before.size() == 1 && after.size() == 1 && !partner[0]) {
            partner[0] = 0;
            matched[0] = true;
        }
        auto whole = [&](const Formatted& f, bool old) {
            std::vector<PropertyChange> props;
            for (std::size_t i = 0; i < f.size(); ++i)
                if (!f.text(i).empty())
                    props.push_back(old ? PropertyChange{f.name(i), f.text(i), ""} : PropertyChange{f.name(i), "", f.text(i)});
            return props;
        };
        for (std::size_t i = 0; i < before.size(); ++i) {
            if (!partner[i]) {
                cd.instances.push_back({InstanceDiff::Removed, shownKey(before[i], i), whole(fb[i], true)});
                continue;
            }
            const std::size_t j = *partner[i];
            InstanceDiff d{InstanceDiff::Changed, shownKey(after[j], j), {}};
            const Formatted &was = fb[i], &is = fa[j];
            for (std::size_t p = 0; p < was.size(); ++p) {
                const auto q = is.find(was.shown->lower[p], p);
                if (q && SameDecl(was.decl(p), is.decl(*q)) && was.value(p) == is.value(*q)) continue;
                const std::string& now = q ? is.text(*q) : kNull;
                if (now != was.text(p)) d.properties.push_back({was.name(p), was.text(p), now});
            }
            for (std::size_t q = 0; q < is.size(); ++q) {
                if (!was.find(is.shown->lower[q], q) && !is.text(q).empty())
                    d.properties.push_back({is.name(q), "", is.text(q)});
            }
            if (!d.properties.empty()) cd.instances.push_back(std::move(d));
        }
        for (std::size_t j = 0; j < after.size(); ++j)
            if (!matched[j]) cd.instances.push_back({InstanceDiff::Added, shownKey(after[j], j), whole(fa[j], false)});
        if (!cd.instances.empty()) out.push_back(std::move(cd));
    }
    return out;
}

void DiffToList(const std::vector<ClassDiff>& diffs, ListModel& list) {
    static const char* const kKind[] = {"Added", "Removed", "Changed"};
    for (const ClassDiff& c : diffs) {
        std::size_t r = list.addRow(c.className, c.className);
        list.setBold(r, true);
        for (const InstanceDiff& d : c.instances) {
            r = list.addRow(c.className + "|" + d.key, kKind[d.kind]);
            list.setSubItem(r, 1, d.key);
            for (const PropertyChange& p : d.properties) {
                r = list.addRow("", "  " + p.name);
                list.setSubItem(r, 1, d.kind == InstanceDiff::Changed ? p.before + " -> " + p.after
                                      : d.kind == InstanceDiff::Added ? p.after
                                                                      : p.before);
            }
        }
    }
}

}  // namespace kestrane::fleet
