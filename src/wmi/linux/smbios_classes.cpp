// Classes that only the firmware's SMBIOS table describes: memory modules,
// arrays and their address ranges, slots, port connectors and on-board
// devices. The table is readable by root only on most systems; without it
// these sets are empty.
#include "wmi/linux/system_info.h"

namespace wmi::lnx {

namespace {

using Table = std::vector<SmbiosStructure>;

using Maker = std::function<std::optional<Object>(const Context&, const SchemaPtr&, const SmbiosStructure&, int)>;

// A row with the class and the constant texts Windows gives these
// structures: Name, Caption and Description the title, Tag "<title> <n>".
Row Titled(const SchemaPtr& schema, const char* cls, const std::string& title, int n) {
    Row r(schema);
    r.set("CreationClassName", cls);
    r.set("Name", title).set("Caption", title).set("Description", title);
    r.set("Tag", Cat(title, " ", std::to_string(n)));
    return r;
}

// Lists the structures of the given types lazily, one instance each, all of
// the first type before the next; n counts the instances made of each type.
std::unique_ptr<InstanceCursor> PerStructure(const Context& ctx, const SchemaPtr& schema,
                                             std::initializer_list<int> types, const Maker& make) {
    auto table = std::make_shared<Table>(ReadSmbios(ctx));
    std::vector<std::string> keys;
    for (int type : types)
        for (std::size_t i = 0; i < table->size(); ++i)
            if ((*table)[i].type == type) keys.push_back(std::to_string(i));
    auto counters = std::make_shared<std::map<int, int>>();
    return std::make_unique<LazyCursor>(std::move(keys), [ctx, schema, table, make, counters](const std::string& k) {
        const SmbiosStructure& s = (*table)[std::stoul(k)];
        int& n = (*counters)[s.type];
        auto o = make(ctx, schema, s, n);
        if (o) ++n;
        return o;
    });
}
std::unique_ptr<InstanceCursor> PerStructure(const Context& ctx, const SchemaPtr& schema, int type, const Maker& make) {
    return PerStructure(ctx, schema, {type}, make);
}

// A byte or word that SMBIOS marks unknown with all bits set.
std::optional<int> Known(std::optional<int> v, int unknown) {
    if (!v || *v == unknown) return std::nullopt;
    return v;
}

// SMBIOS memory types mapped to the older WMI MemoryType codes where both name the same technology.
std::optional<int> WmiMemoryType(int smbios) {
    static const std::map<int, int> m = {{0x01, 1},  {0x03, 2},  {0x04, 6},  {0x05, 7},  {0x06, 8},  {0x07, 9},
                                         {0x08, 10}, {0x09, 11}, {0x0A, 12}, {0x0B, 13}, {0x0C, 14}, {0x0D, 15},
                                         {0x0E, 16}, {0x0F, 17}, {0x10, 18}, {0x11, 19}, {0x12, 20}, {0x13, 21},
                                         {0x14, 22}, {0x18, 24}, {0x19, 25}, {0x1A, 26}};
    auto it = m.find(smbios);
    if (it == m.end()) return std::nullopt;
    return it->second;
}

std::optional<int> WmiFormFactor(int smbios) {
    // SMBIOS: 1 Other, 2 Unknown, 3 SIMM, 4 SIP, 6 DIP, 7 ZIP, 8 Proprietary, 9 DIMM, 10 TSOP, 12 RIMM, 13 SODIMM, 14 SRIMM
    static const std::map<int, int> m = {{1, 1}, {2, 0}, {3, 7}, {4, 2}, {6, 3}, {7, 4}, {8, 6},
                                         {9, 8}, {10, 9}, {12, 11}, {13, 12}, {14, 13}};
    auto it = m.find(smbios);
    if (it == m.end()) return std::nullopt;
    return it->second;
}

std::optional<Object> MemoryModule(const Context&, const SchemaPtr& schema, const SmbiosStructure& s, int n) {
    auto size = s.wordAt(0x0C);
    if (!size || *size == 0) return std::nullopt;  // an empty socket
    std::optional<std::uint64_t> bytes;
    if (*size == 0x7FFF) {
        if (auto ext = s.dwordAt(0x1C)) bytes = static_cast<std::uint64_t>(*ext & 0x7FFFFFFF) << 20;
    } else if (*size != 0xFFFF) {
        bytes = static_cast<std::uint64_t>(*size & 0x7FFF) << ((*size & 0x8000) ? 10 : 20);
    }
    Row r = Titled(schema, "Win32_PhysicalMemory", "Physical Memory", n);
    r.setU64("Capacity", bytes);
    r.set("TotalWidth", Known(s.wordAt(0x08), 0xFFFF));
    r.set("DataWidth", Known(s.wordAt(0x0A), 0xFFFF));
    if (auto ff = s.byteAt(0x0E)) r.set("FormFactor", WmiFormFactor(*ff));
    r.set("DeviceLocator", s.stringAt(0x10));
    r.set("BankLabel", s.stringAt(0x11));
    if (auto t = s.byteAt(0x12)) {
        r.set("SMBIOSMemoryType", *t);
        r.set("MemoryType", WmiMemoryType(*t));
    }
    r.set("TypeDetail", s.wordAt(0x13));
    if (auto sp = Known(s.wordAt(0x15), 0); sp && *sp != 0xFFFF) r.set("Speed", *sp);
    r.set("Manufacturer", s.stringAt(0x17));
    r.set("SerialNumber", s.stringAt(0x18));
    r.set("PartNumber", s.stringAt(0x1A));
    if (auto a = s.byteAt(0x1B); a && (*a & 0x0F)) r.set("Attributes", *a & 0x0F);  // rank
    if (auto c = Known(s.wordAt(0x20), 0); c && *c != 0xFFFF) r.set("ConfiguredClockSpeed", *c);
    r.set("MinVoltage", Known(s.wordAt(0x22), 0));
    r.set("MaxVoltage", Known(s.wordAt(0x24), 0));
    r.set("ConfiguredVoltage", Known(s.wordAt(0x26), 0));
    return r.build();
}

std::optional<Object> MemoryArray(const Context&, const SchemaPtr& schema, const SmbiosStructure& s, int n) {
    Row r = Titled(schema, "Win32_PhysicalMemoryArray", "Physical Memory Array", n);
    // Location, use and error correction share SMBIOS's codes.
    r.set("Location", s.byteAt(0x04));
    r.set("Use", s.byteAt(0x05));
    r.set("MemoryErrorCorrection", s.byteAt(0x06));
    if (auto cap = s.dwordAt(0x07)) {
        if (*cap == 0x80000000u) {
            if (auto ext = s.qwordAt(0x0F)) r.setU64("MaxCapacityEx", *ext / 1024);
        } else {
            r.setU32("MaxCapacity", *cap);
            r.setU64("MaxCapacityEx", *cap);
        }
    }
    r.set("MemoryDevices", s.wordAt(0x0D));
    return r.build();
}

// A range of physical addresses that a memory array (type 19) or a memory
// device (type 20) answers, in kilobytes as CIM counts memory addresses.
std::optional<Object> MappedAddress(const Context& ctx, const SchemaPtr& schema, const SmbiosStructure& s, int n) {
    const bool array = s.type == 19;
    auto start = s.dwordAt(0x04), end = s.dwordAt(0x08);
    if (!start || !end) return std::nullopt;
    std::uint64_t first = *start, last = *end;
    if (*start == 0xFFFFFFFFu) {  // the range lies beyond 4 TB: byte addresses in the extended fields
        auto xs = s.qwordAt(array ? 0x0F : 0x13), xe = s.qwordAt(array ? 0x17 : 0x1B);
        if (!xs || !xe) return std::nullopt;
        first = *xs / 1024;
        last = *xe / 1024;
    }
    if (last < first) return std::nullopt;  // an unused entry
    const char* cls = array ? "Win32_MemoryArray" : "Win32_MemoryDevice";
    const std::string title = array ? "Memory Array" : "Memory Device";
    Row r(schema);
    SetSystemKeys(r, ctx, cls);
    r.set("DeviceID", Cat(title, " ", std::to_string(n)));
    r.set("Name", title).set("Caption", title).set("Description", title);
    r.setU64("StartingAddress", first).setU64("EndingAddress", last);
    // CIM's rule for memory: blocks of one byte, so the count is the size.
    r.setU64("BlockSize", 1).setU64("NumberOfBlocks", (last - first + 1) * 1024);
    return r.build();
}

std::optional<Object> Slot(const Context&, const SchemaPtr& schema, const SmbiosStructure& s, int n) {
    Row r = Titled(schema, "Win32_SystemSlot", "System Slot", n);
    r.set("SlotDesignation", s.stringAt(0x04));
    if (auto w = s.byteAt(0x06); w && *w >= 3 && *w <= 7) r.set("MaxDataWidth", *w - 3);  // 8 to 128 bits
    if (auto u = s.byteAt(0x07); u && *u >= 1 && *u <= 4) r.set("CurrentUsage", *u);
    r.set("Number", s.wordAt(0x09));
    if (auto c2 = s.byteAt(0x0C)) {
        r.set("PMESignal", (*c2 & 0x01) != 0);
        r.set("SupportsHotPlug", (*c2 & 0x02) != 0);
    }
    if (auto seg = Known(s.wordAt(0x0D), 0xFFFF)) r.set("SegmentGroupNumber", *seg);
    if (auto bus = Known(s.byteAt(0x0F), 0xFF)) r.set("BusNumber", *bus);
    if (auto df = Known(s.byteAt(0x10), 0xFF)) {
        r.set("DeviceNumber", *df >> 3);
        r.set("FunctionNumber", *df & 0x07);
    }
    return r.build();
}

std::optional<Object> Connector(const Context&, const SchemaPtr& schema, const SmbiosStructure& s, int n) {
    Row r = Titled(schema, "Win32_PortConnector", "Port Connector", n);
    r.set("InternalReferenceDesignator", s.stringAt(0x04));
    r.set("ExternalReferenceDesignator", s.stringAt(0x06));
    // WMI port types are SMBIOS's, with 0xFF (other) widened.
    if (auto t = s.byteAt(0x08)) r.set("PortType", *t == 0xFF ? 65535 : *t);
    return r.build();
}

std::unique_ptr<InstanceCursor> OnBoardDevices(const Context& ctx, const SchemaPtr& schema) {
    std::vector<Object> out;
    auto add = [&](int typeByte, const std::optional<std::string>& desc) {
        Row r(schema);
        r.set("CreationClassName", "Win32_OnBoardDevice");
        r.set("Tag", "On Board Device " + std::to_string(out.size()));
        r.set("Name", "On Board Device").set("Caption", "On Board Device");
        r.set("Description", desc);
        r.set("DeviceType", typeByte & 0x7F);
        r.set("Enabled", (typeByte & 0x80) != 0);
        out.push_back(r.build());
    };
    for (const auto& s : ReadSmbios(ctx)) {
        if (s.type == 10) {  // pairs of type and string, one per device
            for (std::size_t off = 4; off + 1 < s.formatted.size(); off += 2)
                if (auto t = s.byteAt(off)) add(*t, s.stringAt(off + 1));
        } else if (s.type == 41) {
            if (auto t = s.byteAt(0x05)) add(*t, s.stringAt(0x04));
        }
    }
    return std::make_unique<VectorCursor>(std::move(out));
}

std::unique_ptr<InstanceCursor> PhysicalMemory(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, 17, MemoryModule);
}
std::unique_ptr<InstanceCursor> PhysicalMemoryArray(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, 16, MemoryArray);
}
std::unique_ptr<InstanceCursor> MemoryArrays(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, 19, MappedAddress);
}
std::unique_ptr<InstanceCursor> MemoryDevices(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, 20, MappedAddress);
}
// The base class answers with the instances of both kinds, as a deep
// enumeration does.
std::unique_ptr<InstanceCursor> SmbiosMemory(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, {19, 20}, MappedAddress);
}
std::unique_ptr<InstanceCursor> SystemSlots(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, 9, Slot);
}
std::unique_ptr<InstanceCursor> PortConnectors(const Context& ctx, const SchemaPtr& schema) {
    return PerStructure(ctx, schema, 8, Connector);
}

}  // namespace

void RegisterSmbiosClasses(Registry& reg) {
    reg.add("Win32_PhysicalMemory", PhysicalMemory);
    reg.add("Win32_PhysicalMemoryArray", PhysicalMemoryArray);
    reg.add("Win32_MemoryArray", MemoryArrays);
    reg.add("Win32_MemoryDevice", MemoryDevices);
    reg.add("Win32_SMBIOSMemory", SmbiosMemory);
    reg.add("Win32_SystemSlot", SystemSlots);
    reg.add("Win32_PortConnector", PortConnectors);
    reg.add("Win32_OnBoardDevice", OnBoardDevices);
}

}  // namespace wmi::lnx
