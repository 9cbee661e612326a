// The application menu as program groups: every visible desktop entry of the
// system's application folders, grouped by its main category, for all users.
#include <algorithm>
#include <set>

#include "wmi/linux/os_parsers.h"
#include "wmi/linux/provider_core.h"

namespace wmi::lnx {

namespace {

constexpr const char* kAllUsers = "All Users";

struct MenuEntry {
    std::string group, name;
};

// The first registered main category of a "Categories=" list.
std::string MainCategory(const std::string& categories) {
    static const std::set<std::string> main = {"AudioVideo", "Audio", "Video", "Development", "Education",
                                               "Game", "Graphics", "Network", "Office", "Science",
                                               "Settings", "System", "Utility"};
    std::size_t start = 0;
    while (start <= categories.size()) {
        std::size_t end = categories.find(';', start);
        std::string c = categories.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (main.count(c)) return c;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "Other";
}

std::vector<MenuEntry> ReadMenu(const Context& ctx) {
    std::vector<MenuEntry> out;
    for (const char* dir : {"/usr/share/applications", "/usr/local/share/applications"}) {
        for (const auto& f : ctx.fs().listDir(dir)) {
            if (f.size() < 9 || f.compare(f.size() - 8, 8, ".desktop") != 0) continue;
            auto text = ctx.read(std::string(dir) + "/" + f, 256 * 1024);
            if (!text) continue;
            auto ini = ParseIni(*text);
            const IniSection* e = FindSection(ini, "Desktop Entry");
            if (!e || e->get("Type").value_or("Application") != "Application") continue;
            if (e->get("NoDisplay").value_or("") == "true" || e->get("Hidden").value_or("") == "true") continue;
            auto name = e->get("Name");
            if (!name || name->empty()) continue;
            out.push_back({MainCategory(e->get("Categories").value_or("")), *name});
        }
    }
    std::sort(out.begin(), out.end(), [](const MenuEntry& a, const MenuEntry& b) {
        return std::tie(a.group, a.name) < std::tie(b.group, b.name);
    });
    return out;
}

std::vector<std::string> Groups(const std::vector<MenuEntry>& menu) {
    std::vector<std::string> g;
    for (const auto& e : menu)
        if (g.empty() || g.back() != e.group) g.push_back(e.group);
    return g;
}

Object GroupRow(const SchemaPtr& schema, const std::string& group) {
    std::string name = std::string(kAllUsers) + ":" + group;
    Row r(schema);
    r.set("Name", name).set("Caption", name).set("Description", name);
    if (schema->indexOf("GroupName") >= 0) r.set("GroupName", group).set("UserName", std::string(kAllUsers));
    return r.build();
}

Object ItemRow(const SchemaPtr& schema, const MenuEntry& e) {
    std::string name = std::string(kAllUsers) + ":" + e.group + "\\" + e.name;
    Row r(schema);
    r.set("Name", name).set("Caption", name).set("Description", name);
    return r.build();
}

std::unique_ptr<InstanceCursor> LogicalGroups(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& g : Groups(ReadMenu(ctx))) out.push_back(GroupRow(schema, g));
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> GroupItems(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    for (const auto& e : ReadMenu(ctx)) out.push_back(ItemRow(schema, e));
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> GroupsAndItems(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto menu = ReadMenu(ctx);
    for (const auto& g : Groups(menu)) out.push_back(GroupRow(schema, g));
    for (const auto& e : menu) out.push_back(ItemRow(schema, e));
    return std::make_unique<VectorCursor>(std::move(out));
}

}  // namespace

void RegisterStartMenuClasses(Registry& reg) {
    reg.add("Win32_LogicalProgramGroup", LogicalGroups);
    reg.add("Win32_ProgramGroup", LogicalGroups);
    reg.add("Win32_LogicalProgramGroupItem", GroupItems);
    reg.add("Win32_ProgramGroupOrItem", GroupsAndItems);
}

}  // namespace wmi::lnx
