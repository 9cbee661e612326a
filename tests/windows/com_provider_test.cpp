// The COM provider against the computer's own WMI (Wine's, in CI).
#include "wmi/windows/com_provider.h"

#include <gtest/gtest.h>

#include "wmi/services.h"

namespace {

TEST(ComProvider, RefusedQueryIsNumberAndDescription) {
    auto provider = wmi::com::Connect("", "", "");
    for (const char* wql : {"SELEC * FROM Win32_BIOS", "SELECT * FROM", "SELECT * FROM Win32_BIOS WHERE"}) {
        try {
            wmi::com::ExecQuery(*provider, wql);
            ADD_FAILURE() << wql << " was accepted";
        } catch (const wmi::Error& e) {
            EXPECT_EQ(e.unsignedNumber(), 0x80041017u) << wql;
            EXPECT_EQ(e.description(), "Invalid query") << wql;
            EXPECT_EQ(e.displayText(), "-2147217385:Invalid query");
        }
    }
}

TEST(ComProvider, InstancesCarryTheObjectModelsShape) {
    wmi::Services services(wmi::com::Connect(".", "", ""));
    // Any letter case; the class keeps WMI's own spelling.
    wmi::ObjectSet set = services.ExecQuery("select * from win32_bios");
    auto bios = set.Next();
    ASSERT_TRUE(bios);
    EXPECT_EQ(bios->className(), "Win32_BIOS");
    EXPECT_FALSE(set.Next());

    const auto& props = bios->schema().properties();
    ASSERT_FALSE(props.empty());
    for (std::size_t i = 1; i < props.size(); ++i)
        EXPECT_LT(wmi::ToLowerAscii(props[i - 1].name), wmi::ToLowerAscii(props[i].name)) << "order at " << i;
    for (const auto& p : props) EXPECT_NE(p.name.rfind("__", 0), 0u) << "system property " << p.name;

    wmi::Property date = bios->Properties_().Item("ReleaseDate");
    EXPECT_EQ(date.cimType(), wmi::CIM_DATETIME);
    ASSERT_TRUE(date.value().isString());
    EXPECT_EQ(date.value().asString().size(), 25u);
    EXPECT_EQ(date.value().asString()[14], '.');
    // Declaring classes: WMI's where it answers, the published ones where it
    // cannot say (Wine: E_NOTIMPL).
    EXPECT_EQ(bios->Properties_().Item("Name").origin(), "CIM_ManagedSystemElement");
    EXPECT_EQ(date.origin(), "Win32_BIOS");
}

TEST(ComProvider, SixtyFourBitValuesAndPropertiesWmiLeavesOut) {
    wmi::Services services(wmi::com::Connect("", "", ""));
    wmi::ObjectSet os = services.ExecQuery("SELECT * FROM Win32_OperatingSystem");
    auto o = os.Next();
    ASSERT_TRUE(o);
    const wmi::Value& total = o->Get("TotalVisibleMemorySize");
    ASSERT_TRUE(total.isString());
    EXPECT_GT(std::stoull(total.asString()), 0u);
    EXPECT_EQ(o->Properties_().Item("TotalVisibleMemorySize").cimType(), wmi::CIM_UINT64);

    // A property of the published class that this WMI does not declare is
    // there, Null, as on every other back-end.
    wmi::ObjectSet cs = services.ExecQuery("SELECT * FROM Win32_ComputerSystem");
    auto c = cs.Next();
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Properties_().Item("PrimaryOwnerName").cimType(), wmi::CIM_STRING);
    EXPECT_FALSE(c->Get("Name").isNull());
}

TEST(ComProvider, InstancesComeOneAtATime) {
    // The object set reads from WMI as it is enumerated: a set dropped
    // half-way (Cancel) is no error, and a second query runs meanwhile.
    auto provider = wmi::com::Connect("", "", "");
    wmi::Services services(provider);
    wmi::ObjectSet processes = services.ExecQuery("SELECT * FROM Win32_Process");
    auto first = processes.Next();
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->Get("ProcessId").isNull());
    wmi::ObjectSet bios = services.ExecQuery("SELECT * FROM Win32_BIOS");
    EXPECT_TRUE(bios.Next());
    long more = 0;
    while (processes.Next()) ++more;
    EXPECT_GT(more, 0);
}

}  // namespace
