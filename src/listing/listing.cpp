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

// Gathers them into the rows of the instance being listed.
class BlockRowSink : public ArrayRowSink {
public:
    explicit BlockRowSink(std::vector<ListRow>& rows) : rows_(rows) {}
    void addRow(const std::string& key, const std::string& text, const std::string& icon,
                const std::string& elementText) override {
        ListRow& r = rows_.emplace_back();
        r.key = key;
        r.text = text;
        r.icon = icon;
        r.sub.push_back(elementText);
    }

private:
    std::vector<ListRow>& rows_;
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
        std::vector<ListRow> leading, rest;
        BlockRowSink sink(rest);
        // Each property's label, made once: instances of a class share the
        // property order.
        std::vector<std::pair<std::string, std::string>> labels;
        long n = 0;
        while (auto obj = set.Next()) {
            ++n;
            const std::string nText = std::to_string(n);
            ListRow header;
            header.key = node.key + nText;
            header.text = node.text;
            header.icon = node.image;
            header.sub.push_back(nText);
            header.bold = header.subBold = true;
            leading.clear();
            rest.clear();
            // Rows made before an error stay, as they would have been shown.
            auto append = [&] {
                list.addRow(std::move(header));
                for (auto r = leading.rbegin(); r != leading.rend(); ++r) list.addRow(std::move(*r));
                for (ListRow& r : rest) list.addRow(std::move(r));
            };
            try {
                std::size_t i = 0;
                for (wmi::Property p : obj->Properties_()) {
                    const std::string& name = p.name();
                    if (i == labels.size())
                        labels.emplace_back(name, "    " + FormatPropertyName(name));
                    else if (labels[i].first != name)
                        labels[i] = {name, "    " + FormatPropertyName(name)};
                    const std::string& label = labels[i++].second;
                    auto keyOf = [&] {
                        std::string key;
                        key.reserve(name.size() + 2 + nText.size());
                        key += name;
                        key += kKeySeparator;
                        key += nText;
                        return key;
                    };
                    if (p.value().isArray()) {
                        FormatPropertyValue(p, sink, keyOf(), label, "");
                        continue;
                    }
                    std::string v = FormatPropertyValue(p, sink, "", "", className);
                    if (v.empty() || IsCreationClassName(name)) continue;
                    ListRow& row = IsLeadingProperty(name) ? leading.emplace_back() : rest.emplace_back();
                    row.key = IsLeadingProperty(name) ? name + nText : keyOf();
                    row.text = label;
                    row.icon = "Info";
                    row.sub.push_back(std::move(v));
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
