// The scripting object model (locator, services, object sets, properties)
// driven by a recorded computer, the way every listing uses it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.h"
#include "wmi/services.h"
#include "wmi/snapshot/snapshot.h"

using kestrane_test::ReadAll;
using kestrane_test::SampleSnapshot;
using kestrane_test::WmiErrorOf;

namespace {

wmi::Services SampleServices() {
    static const auto provider = wmi::LoadSnapshot(SampleSnapshot());
    return wmi::Services(provider);
}

std::vector<wmi::Object> All(wmi::ObjectSet set) {
    std::vector<wmi::Object> out;
    for (const auto& o : set) out.push_back(o);
    return out;
}

}  // namespace

TEST(ObjectModel, MissingClassFailsAtFirstEnumerationNotAtQuery) {
    for (const char* cls : {"Win32_Registry", "Win32_Processors", "CIM_Processor", "Win32_ProcessorX"}) {
        auto services = SampleServices();
        std::optional<wmi::ObjectSet> set;
        ASSERT_NO_THROW(set.emplace(services.ExecQuery(std::string("SELECT * FROM ") + cls, "WQL", 16))) << cls;
        std::string description;
        std::size_t delivered = 0;
        const auto number = WmiErrorOf(
            [&] {
                for (const auto& o : *set) {
                    (void)o;
                    ++delivered;
                }
            },
            &description);
        EXPECT_EQ(number, wmi::WBEM_E_INVALID_CLASS) << cls;
        EXPECT_EQ(description, "Invalid class") << cls;
        EXPECT_EQ(delivered, 0u) << cls;
    }
    try {
        SampleServices().ExecQuery("SELECT * FROM Win32_Registry").Next();
    } catch (const wmi::Error& e) {
        EXPECT_EQ(e.displayText(), "-2147217392:Invalid class");
    }
}

TEST(ObjectModel, ClassNamesAndKeywordsMatchInAnyCaseAndSpacing) {
    struct Case {
        const char* query;
        std::size_t instances;
    } cases[] = {
        {"SELECT * FROM Win32_Processor", 2},
        {"select * from win32_processor", 2},
        {"Select * from WIN32_PROCESSOR", 2},
        {"  SeLeCt\t*\n FROM   Win32_Processor  ", 2},
        {"SELECT*FROM Win32_LogicalDisk", 2},
        {"SELECT * FROM win32_operatingsystem", 1},
        {"Select * from Win32_DisplayConfiguration", 0},  // present, no instances: no error
    };
    for (const auto& c : cases) {
        std::vector<wmi::Object> objects;
        ASSERT_NO_THROW(objects = All(SampleServices().ExecQuery(c.query))) << c.query;
        EXPECT_EQ(objects.size(), c.instances) << c.query;
    }
}

TEST(ObjectModel, DeliveredClassNameIsTheRecordedSpelling) {
    auto objects = All(SampleServices().ExecQuery("select * from WIN32_BIOS"));
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].className(), "Win32_BIOS");
}

TEST(ObjectModel, QueriesOtherThanSelectStarFailAtExecQuery) {
    const std::string queries[] = {
        "SELECT Name FROM Win32_Processor",
        "SELECT * FROM Win32_Processor WHERE DeviceID = 'CPU0'",
        "SELECT * FROMWin32_Processor",
        "SELECT * FROM",
        "SELECT *",
        "",
        "   ",
        "SELECTS * FROM Win32_Processor",
        "DELETE * FROM Win32_Processor",
        "SELECT * FROM Win32_Processor, Win32_BIOS",
        "SELECT * FROM Win32-Processor",
        "ASSOCIATORS OF {Win32_Processor.DeviceID='CPU0'}",
        // what scripts send by mistake or on purpose
        std::string("SELECT * FROM Win32_BIOS\0", 25),
        std::string("SELECT * FROM Win32_\0BIOS", 25),
        "SELECT * FROM Win32_BIOS;",
        "SELECT * FROM Win32_BIOS -- comment",
        "SELECT * FROM \xC3\xA9t\xC3\xA9",
        "SELECT * FROM Win32_BIOS\v",
        "SELECT \xEF\xBC\x8A FROM Win32_BIOS",
        "SELECT * FROM " + std::string(100000, ' '),
        std::string(100000, '*'),
        "\xEF\xBB\xBFSELECT * FROM Win32_BIOS",
    };
    for (const std::string& q : queries) {
        std::string description;
        EXPECT_EQ(WmiErrorOf([&] { SampleServices().ExecQuery(q); }, &description), wmi::WBEM_E_INVALID_QUERY)
            << testing::PrintToString(q.substr(0, 60));
        EXPECT_EQ(description, "Invalid query");
    }
    EXPECT_EQ(WmiErrorOf([] { SampleServices().ExecQuery("SELECT * FROM Win32_BIOS", "SQL"); }),
              wmi::WBEM_E_INVALID_QUERY_TYPE);
}

TEST(ObjectModel, EveryInstanceCarriesTheRecordedPropertiesInOrder) {
    const auto file = nlohmann::ordered_json::parse(ReadAll(SampleSnapshot()));
    auto services = SampleServices();
    for (const auto& [cls, body] : file["classes"].items()) {
        const auto& decls = body["properties"];
        std::size_t count = 0;
        for (const auto& obj : services.ExecQuery("SELECT * FROM " + cls)) {
            ++count;
            ASSERT_EQ(obj.Properties_().Count(), decls.size()) << cls;
            std::size_t k = 0;
            for (const auto& prop : obj.Properties_()) {
                const auto& d = decls[k++];
                EXPECT_EQ(prop.name(), d["name"].get<std::string>()) << cls;
                EXPECT_EQ(prop.cimType(), d["cimtype"].get<int>()) << cls << "." << prop.name();
                EXPECT_EQ(prop.isArray(), d["array"].get<bool>()) << cls << "." << prop.name();
                EXPECT_EQ(prop.origin(), d["origin"].get<std::string>()) << cls << "." << prop.name();
                // A value that is there has the shape its declaration promises.
                if (!prop.value().isNull()) {
                    EXPECT_EQ(prop.value().isArray(), prop.isArray()) << cls << "." << prop.name();
                }
            }
        }
        EXPECT_EQ(count, body["instances"].size()) << cls;
    }
}

TEST(ObjectModel, ValuesArriveAsALiveComputerDeliversThem) {
    auto one = [](const char* cls) {
        auto objects = All(SampleServices().ExecQuery(std::string("SELECT * FROM ") + cls));
        EXPECT_FALSE(objects.empty()) << cls;
        return objects.front();
    };
    const auto cs = one("Win32_ComputerSystem");
    const auto os = one("Win32_OperatingSystem");
    const auto bios = one("Win32_BIOS");
    struct Case {
        const wmi::Object* obj;
        const char* property;
        wmi::Value want;
    } cases[] = {
        {&cs, "TotalPhysicalMemory", wmi::Value("68560572416")},  // uint64 as decimal text
        {&cs, "PauseAfterReset", wmi::Value("3932100000")},       // sint64 likewise
        {&cs, "ResetCount", wmi::Value(-1)},                      // sint16
        {&cs, "CurrentTimeZone", wmi::Value(60)},
        {&cs, "AutomaticManagedPagefile", wmi::Value(true)},
        {&cs, "InstallDate", wmi::Value()},  // not in the instance: Null
        {&cs, "Roles", wmi::Value(wmi::Value::Array{"LM_Workstation", "LM_Server", "NT"})},
        {&os, "MaxNumberOfProcesses", wmi::Value(4294967295LL)},  // uint32 at its top
        {&os, "LastBootUpTime", wmi::Value("20261205074410.500000+060")},
        {&os, "ServicePackMajorVersion", wmi::Value(0)},
        {&os, "Description", wmi::Value("")},  // empty text is not Null
        {&bios, "SMBIOSMajorVersion", wmi::Value(3)},
        {&bios, "ListOfLanguages", wmi::Value(wmi::Value::Array{"en|US|iso8859-1", "<reserved>"})},
    };
    for (const auto& c : cases) EXPECT_EQ(c.obj->Get(c.property), c.want) << c.property;
}

TEST(ObjectModel, ItemAndGetFindPropertiesIgnoringCaseAndFailOnUnknownNames) {
    const auto os = All(SampleServices().ExecQuery("Select * from Win32_OperatingSystem")).at(0);
    for (const char* name : {"ServicePackMajorVersion", "servicepackmajorversion", "SERVICEPACKMAJORVERSION"}) {
        const auto p = os.Properties_().Item(name);
        EXPECT_EQ(p.name(), "ServicePackMajorVersion");
        EXPECT_EQ(p.cimType(), wmi::CIM_UINT16);
        EXPECT_EQ(os.Get(name), wmi::Value(0));
    }
    for (const char* name : {"ServicePackMajor", "", "Service Pack Major Version", "Win32_OperatingSystem"}) {
        std::string description;
        EXPECT_EQ(WmiErrorOf([&] { os.Properties_().Item(name); }, &description), wmi::WBEM_E_NOT_FOUND) << name;
        EXPECT_EQ(description, "Not found");
        EXPECT_EQ(WmiErrorOf([&] { os.Get(name); }), wmi::WBEM_E_NOT_FOUND) << name;
    }
}

TEST(ObjectModel, ASetIsEnumeratedOnceAndSetsAreIndependent) {
    auto services = SampleServices();
    auto first = services.ExecQuery("SELECT * FROM Win32_Processor");
    auto second = services.ExecQuery("SELECT * FROM Win32_Processor");
    ASSERT_TRUE(first.Next());
    EXPECT_EQ(All(std::move(second)).size(), 2u);  // unaffected by the first
    ASSERT_TRUE(first.Next());
    EXPECT_FALSE(first.Next());
    EXPECT_FALSE(first.Next());  // stays at its end
}

TEST(ObjectModel, InstancesShareTheirClassSchema) {
    auto objects = All(SampleServices().ExecQuery("SELECT * FROM Win32_LogicalDisk"));
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].schemaPtr(), objects[1].schemaPtr());
    EXPECT_EQ(objects[0].Get("DeviceID"), wmi::Value("C:"));
    EXPECT_EQ(objects[1].Get("DeviceID"), wmi::Value("D:"));
}

TEST(Locator, AcceptsOnlyTheCimv2Namespace) {
    wmi::Locator locator(wmi::Backends{[] { return wmi::LoadSnapshot(SampleSnapshot()); }, nullptr});
    for (const char* ns : {"\\root\\cimv2", "root\\cimv2", "ROOT\\CIMV2", "root/cimv2", "\\\\root\\cimv2"}) {
        std::optional<wmi::Services> services;
        EXPECT_NO_THROW(services.emplace(locator.ConnectServer("", ns, "", ""))) << ns;
    }
    for (const char* ns : {"root\\default", "", "root", "cimv2", "root\\cimv2\\x", "root\\cimv"}) {
        std::string description;
        EXPECT_EQ(WmiErrorOf([&] { locator.ConnectServer("", ns, "", ""); }, &description),
                  wmi::WBEM_E_INVALID_NAMESPACE)
            << ns;
        EXPECT_EQ(description, "Invalid namespace");
    }
}

TEST(Locator, LocalComputerIsAnsweredByTheLocalBackend) {
    wmi::Locator locator(wmi::Backends{[] { return wmi::LoadSnapshot(SampleSnapshot()); }, nullptr});
    for (const char* server : {"", ".", "localhost"}) {
        auto services = locator.ConnectServer(server, "\\root\\cimv2", "", "");
        EXPECT_EQ(All(services.ExecQuery("SELECT * FROM Win32_Processor")).size(), 2u) << server;
    }
}

TEST(Locator, RemoteComputerWithoutRemoteBackendIsUnreachable) {
    wmi::Locator locator(wmi::Backends{[] { return wmi::LoadSnapshot(SampleSnapshot()); }, nullptr});
    std::string description;
    EXPECT_EQ(WmiErrorOf([&] { locator.ConnectServer("fileserver-02", "\\root\\cimv2", "admin", "pw"); }, &description),
              wmi::RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(description, "The RPC server is unavailable.");
}

TEST(Locator, RemoteBackendReceivesTheConnectionStrings) {
    std::string seen;
    wmi::Backends backends;
    backends.remote = [&](const std::string& server, const std::string& user, const std::string& password) {
        seen = server + "|" + user + "|" + password;
        return wmi::LoadSnapshot(SampleSnapshot());
    };
    wmi::Locator locator(backends);
    auto services = locator.ConnectServer("orion", "\\root\\cimv2", "maria", "secret");
    EXPECT_EQ(seen, "orion|maria|secret");
    EXPECT_EQ(All(services.ExecQuery("SELECT * FROM Win32_BIOS")).size(), 1u);
}
