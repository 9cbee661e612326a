// The scripting object model (locator, services, object sets, properties)
// driven by a recorded computer, the way every listing uses it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "test_support.h"
#include "wmi/services.h"
#include "wmi/snapshot/snapshot.h"

using namespace kestrane_test;

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

wmi::Locator SampleLocator(decltype(wmi::Backends::remote) remote = nullptr) {
    return wmi::Locator(wmi::Backends{[] { return wmi::LoadSnapshot(SampleSnapshot()); }, std::move(remote)});
}

}  // namespace

// Class names come from the tree and from the command line; a name the
// computer lacks, however long, is a valid query and an invalid class.
TEST(ObjectModel, MissingClassFailsAtFirstEnumerationNotAtQuery) {
    for (const std::string& cls : {std::string("Win32_Registry"), std::string("Win32_Processors"),
                                   std::string("CIM_Processor"), std::string("Win32_ProcessorX"),
                                   std::string(10000, 'A'), std::string("_"), std::string("0")}) {
        std::optional<wmi::ObjectSet> set;
        ASSERT_NO_THROW(set.emplace(SampleServices().ExecQuery("SELECT * FROM " + cls, "WQL", 16))) << cls;
        std::string description;
        std::size_t delivered = 0;
        EXPECT_EQ(WmiErrorOf([&] { for (const auto& o : *set) (void)o, ++delivered; }, &description),
                  wmi::WBEM_E_INVALID_CLASS) << cls.substr(0, 40);
        EXPECT_EQ(description, "Invalid class");
        EXPECT_EQ(delivered, 0u);
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
    EXPECT_EQ(All(SampleServices().ExecQuery("select * from WIN32_BIOS")).at(0).className(), "Win32_BIOS");
}

TEST(ObjectModel, QueriesOtherThanSelectStarFailAtExecQuery) {
    const std::string queries[] = {
        "SELECT Name FROM Win32_Processor", "SELECT * FROM Win32_Processor WHERE DeviceID = 'CPU0'",
        "SELECT * FROMWin32_Processor", "SELECT * FROM", "SELECT *", "", "   ", "SELECTS * FROM Win32_Processor",
        "DELETE * FROM Win32_Processor", "SELECT * FROM Win32_Processor, Win32_BIOS", "SELECT * FROM Win32-Processor",
        "ASSOCIATORS OF {Win32_Processor.DeviceID='CPU0'}",
        // what scripts send by mistake or on purpose
        std::string("SELECT * FROM Win32_BIOS\0", 25), std::string("SELECT * FROM Win32_\0BIOS", 25),
        "SELECT * FROM Win32_BIOS;", "SELECT * FROM Win32_BIOS -- comment", "SELECT * FROM \xC3\xA9t\xC3\xA9",
        "SELECT * FROM Win32_BIOS\v", "SELECT \xEF\xBC\x8A FROM Win32_BIOS", "SELECT * FROM " + std::string(100000, ' '),
        std::string(100000, '*'), "\xEF\xBB\xBFSELECT * FROM Win32_BIOS",
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
    for (const auto& [cls, body] : file["classes"].items()) {
        std::vector<wmi::PropertyDecl> decls;
        for (const auto& d : body["properties"])
            decls.push_back({d["name"], d["cimtype"], d["array"], d["origin"]});
        const wmi::ClassSchema recorded(cls, decls);
        std::size_t count = 0;
        for (const auto& obj : SampleServices().ExecQuery("SELECT * FROM " + cls)) {
            ++count;
            std::vector<wmi::PropertyDecl> seen;
            for (const auto& prop : obj.Properties_()) {
                seen.push_back({prop.name(), prop.cimType(), prop.isArray(), prop.origin()});
                // A value that is there has the shape its declaration promises.
                if (!prop.value().isNull()) {
                    EXPECT_EQ(prop.value().isArray(), prop.isArray()) << cls << "." << prop.name();
                }
            }
            ExpectSameDecls(wmi::ClassSchema(cls, seen), recorded, cls);
        }
        EXPECT_EQ(count, body["instances"].size()) << cls;
    }
}

TEST(ObjectModel, ItemAndGetFindPropertiesIgnoringCaseAndFailOnUnknownNames) {
    const auto os = All(SampleServices().ExecQuery("Select * from Win32_OperatingSystem")).at(0);
    for (const char* name : {"ServicePackMajorVersion", "servicepackmajorversion", "SERVICEPACKMAJORVERSION"}) {
        EXPECT_EQ(os.Properties_().Item(name).name(), "ServicePackMajorVersion");
        EXPECT_EQ(os.Properties_().Item(name).cimType(), wmi::CIM_UINT16);
        EXPECT_EQ(os.Get(name), wmi::Value(0));
    }
    // Of two names that differ only in case the first is found, whichever is
    // asked for: how a class declaring one property twice is recognised.
    const wmi::ClassSchema twice("Win32_Fan",
                                 {{"Speed", wmi::CIM_UINT16, false, ""}, {"SPEED", wmi::CIM_UINT16, false, ""}});
    EXPECT_EQ(twice.indexOf("SPEED"), 0);
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
    auto a = first.Next();
    ASSERT_TRUE(a);
    auto rest = All(std::move(second));
    EXPECT_EQ(rest.size(), 2u);  // unaffected by the first
    EXPECT_EQ(a->schemaPtr(), rest[1].schemaPtr());  // instances share their class's schema
    ASSERT_TRUE(first.Next());
    EXPECT_FALSE(first.Next());
    EXPECT_FALSE(first.Next());  // stays at its end
}

TEST(Locator, AcceptsOnlyTheCimv2NamespaceAndAnswersTheLocalComputerLocally) {
    auto locator = SampleLocator();
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
    for (const char* server : {"", ".", "localhost"}) {
        auto services = locator.ConnectServer(server, "\\root\\cimv2", "", "");
        EXPECT_EQ(All(services.ExecQuery("SELECT * FROM Win32_Processor")).size(), 2u) << server;
    }
}

TEST(Locator, ARemoteComputerIsAnsweredByTheRemoteBackendOrIsUnreachable) {
    std::string description;
    EXPECT_EQ(WmiErrorOf([&] { SampleLocator().ConnectServer("fileserver-02", "\\root\\cimv2", "admin", "pw"); },
                         &description),
              wmi::RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(description, "The RPC server is unavailable.");

    std::string seen;
    auto locator = SampleLocator([&](const std::string& server, const std::string& user, const std::string& password) {
        seen = server + "|" + user + "|" + password;
        return wmi::LoadSnapshot(SampleSnapshot());
    });
    auto services = locator.ConnectServer("orion", "\\root\\cimv2", "maria", "secret");
    EXPECT_EQ(seen, "orion|maria|secret");
    EXPECT_EQ(All(services.ExecQuery("SELECT * FROM Win32_BIOS")).size(), 1u);
}
