// What selecting a node shows, as comparable text: the tests of the remote
// back-ends compare a computer's listings with those of the same data read
// another way.
#pragma once

#include <sstream>
#include <string>

#include "listing/listing.h"
#include "wmi/connection.h"

namespace kestrane::testing {

inline std::string Dump(const ListModel& list) {
    std::ostringstream o;
    for (const auto& c : list.columns()) o << "[" << c.caption << "]";
    o << "\n";
    for (const auto& r : list.rows()) {
        o << r.key << "|" << r.text << "|" << r.icon << "|" << r.bold << r.subBold;
        for (const auto& s : r.sub) o << "|" << s;
        o << "\n";
    }
    return o.str();
}

// The root summary (empty class) or a class's listing, or "error N:TEXT".
inline std::string Listing(const wmi::Backends& b, const std::string& computer, const std::string& cls,
                           bool horizontal, HeadlessHost* hostIn = nullptr, const std::string& user = "",
                           const std::string& password = "") {
    AppState st;
    st.gstrComputer = computer;
    st.gstrUserName = user;
    st.gstrPassword = password;
    ListModel list;
    HeadlessHost local;
    HeadlessHost& host = hostIn ? *hostIn : local;
    host.selectedKey = cls;
    ServicesFactory f = [&] { return wmi::GetWMIServices(st, b); };
    try {
        if (cls.empty())
            ShowRootSummary(list, host, f);
        else if (horizontal)
            List_Items_Horizontally({cls, cls, "Info"}, list, host, f);
        else
            List_Items_Vertically({cls, cls, "Info"}, list, host, f);
    } catch (const wmi::Error& e) {
        return "error " + std::to_string(e.number()) + ":" + e.description();
    }
    return Dump(list);
}

}  // namespace kestrane::testing
