#include "listing/listing.h"

#include <array>

#include "catalogue/catalogue.h"
#include "format/format.h"

namespace kestrane {

namespace {

// Appends an array's element rows to the list, as the vertical view shows them.
class ListRowSink : public ArrayRowSink {
public:
    explicit ListRowSink(ListModel& list) : list_(list) {}
    void addRow(const std::string& key, const std::string& text, const std::string& icon,
                const std::string& elementText) override {
        std::size_t r = list_.addRow(key, text, icon);
        list_.setSubItem(r, 1, elementText);
    }

private:
    ListModel& list_;
};

// Rows built aside for one instance, kept from one instance to the next: a
// row assigned again reuses the room of its strings.
class RowBlock {
public:
    ListRow& next() {
        if (used_ == rows_.size()) rows_.emplace_back();
        return rows_[used_++];
    }
    void clear() { used_ = 0; }
    std::size_t size() const { return used_; }
    const ListRow& operator[](std::size_t i) const { return rows_[i]; }

private:
    std::vector<ListRow> rows_;
    std::size_t used_ = 0;
};

// A row of an instance's block: an "Info" label and its value.
void SetInfoRow(ListRow& r, std::string_view key, std::string_view label, std::string_view value) {
    r.key = key;
    r.text = label;
    r.icon = "Info";
    r.sub.resize(1);
    r.sub[0] = value;
    r.bold = r.subBold = false;
}

// Gathers them into the rows of the instance being listed.
class BlockRowSink : public ArrayRowSink {
public:
    explicit BlockRowSink(RowBlock& rows) : rows_(rows) {}
    void addRow(const std::string& key, const std::string& text, const std::string& icon,
                const std::string& elementText) override {
        ListRow& r = rows_.next();
        SetInfoRow(r, key, text, elementText);
        r.icon = icon;
    }

private:
    RowBlock& rows_;
};

struct SummaryGroup {
    const char* className;
    const char* title;
    const char* image;
    std::vector<std::pair<const char*, const char*>> rows;  // label, property
};

const std::array<SummaryGroup, 7>& SummaryGroups() {
    static const std::array<SummaryGroup, 7> groups = {{
        {"Win32_ComputerSystem", "Computer", "Computer",
         {{"Name", "Name"}, {"Manufacturer", "Manufacturer"}, {"Model", "Model"},
          {"Description", "Description"}, {"Primary Owner Name", "PrimaryOwnerName"},
          {"System Type", "SystemType"}, {"Domain", "Domain"}, {"User Name", "UserName"}}},
        {"Win32_Processor", "Processors", "Processor",
         {{"Name", "Name"}, {"Manufacturer", "Manufacturer"}, {"Version", "Version"},
          {"Description", "Description"}, {"Maximum Clock Speed", "MaxClockSpeed"}}},
        {"Win32_OperatingSystem", "Operating System", "Windows",
         {{"Name", "Name"}, {"Manufacturer", "Manufacturer"}, {"Version", "Version"},
          {"Service Pack", nullptr}, {"Install Date", "InstallDate"},
          {"Serial Number", "SerialNumber"}, {"Boot Device", "BootDevice"},
          {"Windows Directory", "WindowsDirectory"}}},
        {"Win32_BIOS", "BIOS", "Chip",
         {{"Name", "Name"}, {"Manufacturer", "Manufacturer"}, {"Version", "Version"},
          {"Release Date", "ReleaseDate"}, {"Serial Number", "SerialNumber"}}},
        {"Win32_DiskDrive", "Disk Drive", "HDD",
         {{"Name", "Name"}, {"Manufacturer", "Manufacturer"}, {"Model", "Model"},
          {"Media Type", "MediaType"}, {"Size", "Size"}}},
        {"Win32_LogicalDisk", "Logical Disk", "HDD",
         {{"Name", "Name"}, {"File System", "FileSystem"}, {"Size", "Size"},
          {"Volume Serial Number", "VolumeSerialNumber"}}},
        {"Win32_DisplayConfiguration", "Display Configuration", "Display",
         {{"Device Name", "DeviceName"}, {"DriverVersion", "DriverVersion"}}},
    }};
    return groups;
}

bool HasDefaultColumns(const ListModel& list) {
    const auto& c = list.columns();
    return c.size() == 2 && c[0].caption == "Name" && c[1].caption == "Value";
}

bool IsLeadingProperty(const std::string& n) {
    return n == "Model" || n == "Manufacturer" || n == "Caption" || n == "Description" || n == "Name";
}

bool IsCreationClassName(const std::string& n) {
    return n == "CSCreationClassName" || n == "SystemCreationClassName" || n == "CreationClassName";
}

}  // namespace

void ShowRootSummary(ListModel& list, ListingHost& host, const ServicesFactory& GetWMIServices) {
    try {
        list.setHeadersHidden(false);
        // A horizontal listing may have left its own columns behind.
        if (!HasDefaultColumns(list)) list.setDefaultColumns();
        wmi::Services services = GetWMIServices();
        std::vector<std::string> classes;
        for (const auto& g : SummaryGroups()) classes.emplace_back(g.className);
        services.provider()->prefetch(classes);
        ListRowSink sink(list);
        for (const auto& g : SummaryGroups()) {
            wmi::ObjectSet set =
                services.ExecQuery(std::string("Select * from ") + g.className, "WQL", 16);
            std::vector<std::string> reads;
            for (const auto& [label, prop] : g.rows) reads.emplace_back(prop ? prop : "ServicePackMajorVersion");
            reads.emplace_back("ServicePackMinorVersion");
            set.ReadsOnly(std::move(reads));
            std::size_t header = list.addRow("", g.title, g.image);
            list.setBold(header, true);
            while (auto obj = set.Next()) {
                for (const auto& [label, prop] : g.rows) {
                    std::size_t r = list.addRow("", label, "Info2");
                    std::string text;
                    if (prop) {
                        text = FormatPropertyValue(obj->Properties_().Item(prop), sink);
                    } else if (!obj->Get("ServicePackMajorVersion").isNull() ||
                               !obj->Get("ServicePackMinorVersion").isNull()) {
                        text = wmi::ValueText(obj->Get("ServicePackMajorVersion")) + "." +
                               wmi::ValueText(obj->Get("ServicePackMinorVersion"));
                    }
                    list.setSubItem(r, 1, std::move(text));
                }
                list.addRow("", "", "");
            }
            list.addRow("", "", "");
        }
        host.setProgressVisible(false);
    } catch (...) {
        host.setProgressVisible(false);
        throw;
    }
}

namespace {

// What both class views share: the reset of the header and the count, the
// class-prefix test, the query, and the progress area, hidden again on the
// way out whatever happens. `body` lists the instances of the set and says
// whether it listed them all.
template <class Body>
void RunClassListing(const ListingNode& node, ListModel& list, ListingHost& host,
                     const ServicesFactory& GetWMIServices, Body body) {
    list.setHeadersHidden(false);
    // Headers left by an earlier listing would stand over rows they do not
    // describe, on screen and in the export.
    if (!HasDefaultColumns(list)) list.setDefaultColumns();
    host.setListedCount(0);
    if (!IsClassKey(node.key)) {
        host.setProgressVisible(false);
        return;
    }
    try {
        wmi::Services services = GetWMIServices();
        wmi::ObjectSet set = services.ExecQuery("SELECT * FROM " + node.key, "WQL", 16);
        host.setProgressVisible(true);
        const bool complete = body(set);
        host.setProgressVisible(false);
        host.listingEnded(complete);
    } catch (...) {
        host.setProgressVisible(false);
        host.listingEnded(false);
        throw;
    }
}

}  // namespace

void List_Items_Vertically(const ListingNode& node, ListModel& list, ListingHost& host,
                           const ServicesFactory& GetWMIServices) {
    RunClassListing(node, list, host, GetWMIServices, [&](wmi::ObjectSet& set) {
        const std::string className = host.selectedNodeKey();
        // An instance's block is built aside and appended whole, so the list
        // only grows at its end: the leading properties stand first, last
        // met first.
        RowBlock leading, rest;
        BlockRowSink sink(rest);
        ListRow header;
        header.icon = node.image;
        header.bold = header.subBold = true;
        // What each property's rows need, made once: instances of a class
        // share the property order, and mostly one schema, held here so that
        // its address stands for it.
        struct Shown {
            std::string name, label;
            bool leads = false, creationClass = false;
        };
        std::vector<Shown> shown;
        wmi::SchemaPtr shownSchema;
        std::string key;
        long n = 0;
        while (auto obj = set.Next()) {
            ++n;
            const std::string nText = std::to_string(n);
            header.key = node.key;
            header.key += nText;
            header.text = node.text;
            header.sub.assign(1, nText);
            leading.clear();
            rest.clear();
            // Rows made before an error stay, as they would have been shown.
            auto append = [&] {
                list.copyRow(header);
                for (std::size_t r = leading.size(); r-- > 0;) list.copyRow(leading[r]);
                for (std::size_t r = 0; r < rest.size(); ++r) list.copyRow(rest[r]);
            };
            if (obj->schemaPtr() != shownSchema) {
                const auto& props = obj->schema().properties();
                if (shown.size() < props.size()) shown.resize(props.size());
                for (std::size_t i = 0; i < props.size(); ++i) {
                    const std::string& name = props[i].name;
                    if (shown[i].name == name && !shown[i].label.empty()) continue;
                    shown[i] = {name, "    " + FormatPropertyName(name), IsLeadingProperty(name), IsCreationClassName(name)};
                }
                shownSchema = obj->schemaPtr();
            }
            try {
                std::size_t i = 0;
                for (wmi::Property p : obj->Properties_()) {
                    const std::string& name = p.name();
                    const Shown& property = shown[i++];
                    const std::string& label = property.label;
                    auto keyOf = [&](bool leads) -> const std::string& {
                        key = name;
                        if (!leads) key += kKeySeparator;
                        key += nText;
                        return key;
                    };
                    if (p.value().isArray()) {
                        FormatPropertyValue(p, sink, keyOf(false), label, "");
                        continue;
                    }
                    std::string v = FormatPropertyValue(p, sink, "", "", className);
                    if (v.empty() || property.creationClass) continue;
                    const bool leads = property.leads;
                    SetInfoRow(leads ? leading.next() : rest.next(), keyOf(leads), label, v);
                }
            } catch (...) {
                append();
                throw;
            }
            append();
            list.addRow("Space0" + nText, "    ", "");
            host.setListedCount(n);
            if (host.cancelRequested()) return false;
            host.yieldToUser(false);
        }
        if (n == 0) {
            std::size_t r = list.addRow("", "No Information Available", "NoInfo");
            list.setBold(r, true);
            list.setHeadersHidden(true);
        }
        return true;
    });
}

void List_Items_Horizontally(const ListingNode& node, ListModel& list, ListingHost& host,
                             const ServicesFactory& GetWMIServices) {
    RunClassListing(node, list, host, GetWMIServices, [&](wmi::ObjectSet& set) {
        const std::string className = host.selectedNodeKey();
        JoiningSink joined;
        long n = 0;
        while (true) {
            auto obj = set.Next();
            if (!obj) return true;
            ++n;
            if (host.cancelRequested()) return false;
            host.yieldToUser(true);
            // The columns describe the last instance written; rebuilding
            // identical ones would only make the view start over.
            const auto& cols = list.columns();
            const auto& props = obj->schema().properties();
            bool same = cols.size() == props.size();
            for (std::size_t i = 0; same && i < props.size(); ++i) same = cols[i].key == props[i].name;
            if (!same) {
                list.clearColumns();
                for (const auto& p : props) list.addColumn(p.name, p.name);
            }
            std::size_t row = 0;
            std::size_t i = 0;
            for (wmi::Property p : obj->Properties_()) {
                std::string v;
                if (p.value().isArray()) {
                    // An array shows its decoded elements in its own cell.
                    joined.clear();
                    FormatPropertyValue(p, joined, "", "", className);
                    v = joined.joined();
                } else {
                    v = FormatPropertyValue(p, joined, "", "", className);
                }
                if (i == 0)
                    row = list.addRow("Val" + std::to_string(n), std::move(v), "");
                else
                    list.setSubItem(row, i, std::move(v));
                ++i;
            }
            host.setListedCount(n);
        }
    });
}

}  // namespace kestrane
