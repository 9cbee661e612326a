#include <gtest/gtest.h>

#include <filesystem>

#include "linux_test_util.h"
#include "wmi/linux/cups_parsers.h"

using namespace wmi::lnx;
using lnxtest::CollectIn;
using lnxtest::FindBy;

TEST(CupsParsers, PrintersConfBlocks) {
    auto ps = ParseCupsPrinters(
        "# comment\n<DefaultPrinter A>\nInfo First one\nState Idle\nShared Yes\n</DefaultPrinter>\n"
        "Stray line\n<Printer B>\r\nDeviceURI ipp://h/printers/b\r\nAccepting maybe\r\n</Printer>\n"
        "<Printer>\nInfo nameless\n</Printer>\n<Printer C>\nInfo left open");
    ASSERT_EQ(ps.size(), 3u);
    EXPECT_TRUE(ps[0].isDefault);
    EXPECT_EQ(ps[0].info, "First one");
    EXPECT_EQ(ps[0].shared, true);
    EXPECT_FALSE(ps[1].isDefault);
    EXPECT_EQ(ps[1].deviceUri, "ipp://h/printers/b");
    EXPECT_FALSE(ps[1].accepting.has_value());  // neither yes nor no
    EXPECT_EQ(ps[2].name, "C");
    EXPECT_EQ(ps[2].info, "left open");
    EXPECT_TRUE(ParseCupsPrinters("").empty());
    EXPECT_TRUE(ParseCupsPrinters("<Printer X").empty());
}

TEST(CupsParsers, PrintcapAndUris) {
    auto ps = ParsePrintcap("# gen\nA|Info A:rm=h:rp=A:\nB:rm=h:\n|nameless:\n");
    ASSERT_EQ(ps.size(), 2u);
    EXPECT_EQ(ps[0].info, "Info A");
    EXPECT_FALSE(ps[1].info.has_value());

    auto u = ParseDeviceUri("socket://192.0.2.40:9100");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "192.0.2.40");
    EXPECT_EQ(u->port, 9100);
    u = ParseDeviceUri("lpd://user@print.example.org/queue7");
    EXPECT_EQ(u->host, "print.example.org");
    EXPECT_EQ(u->queue, "queue7");
    EXPECT_FALSE(u->port);
    u = ParseDeviceUri("ipp://[2001:db8::1]:631/printers/x?waitjob=false");
    EXPECT_EQ(u->host, "[2001:db8::1]");
    EXPECT_EQ(u->port, 631);
    EXPECT_EQ(u->queue, "x");
    EXPECT_EQ(ParseDeviceUri("socket://h:99999")->port, std::nullopt);
    EXPECT_FALSE(ParseDeviceUri("usb:/nothing"));
    EXPECT_FALSE(ParseDeviceUri("://x"));
}

TEST(PrintingClasses, PrintersFromTheConfiguration) {
    auto printers = CollectIn("printserver", "Win32_Printer");
    ASSERT_EQ(printers.size(), 3u);
    const auto* laser = FindBy(printers, "Name", "Office_Laser");
    ASSERT_NE(laser, nullptr);
    EXPECT_EQ(laser->Get("Default"), wmi::Value(true));
    EXPECT_EQ(laser->Get("Network"), wmi::Value(true));
    EXPECT_EQ(laser->Get("PrinterStatus"), wmi::Value(3));
    EXPECT_EQ(laser->Get("Attributes"), wmi::Value(4 | 8 | 16));
    EXPECT_EQ(laser->Get("Location"), wmi::Value("Room 214"));
    const auto* label = FindBy(printers, "Name", "Label_Writer");
    EXPECT_EQ(label->Get("Local"), wmi::Value(true));
    EXPECT_EQ(label->Get("PrinterStatus"), wmi::Value(6));
    EXPECT_EQ(label->Get("WorkOffline"), wmi::Value(true));
    EXPECT_EQ(label->Get("Attributes"), wmi::Value(64));

    auto ports = CollectIn("printserver", "Win32_TCPIPPrinterPort");
    ASSERT_EQ(ports.size(), 2u);  // the USB printer has none
    const auto* raw = FindBy(ports, "HostAddress", "192.0.2.40");
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw->Get("Protocol"), wmi::Value(1));
    EXPECT_EQ(raw->Get("PortNumber"), wmi::Value(9100));
    const auto* lpd = FindBy(ports, "HostAddress", "print.example.org");
    EXPECT_EQ(lpd->Get("PortNumber"), wmi::Value(515));
    EXPECT_EQ(lpd->Get("Queue"), wmi::Value("queue7"));

    EXPECT_EQ(CollectIn("printserver", "Win32_PrinterDriver").size(), 2u);  // one without a model
    EXPECT_EQ(CollectIn("printserver", "Win32_PrinterConfiguration").size(), 3u);
}

TEST(PrintingClasses, NamesOnlyFromPrintcapAndNothingWithoutAPrintSystem) {
    // A copy of the tree without printers.conf, as an ordinary user sees it.
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("kestrane-printcap-" + std::to_string(::getpid()));
    fs::create_directories(dir / "run/cups");
    fs::copy_file(lnxtest::Fixture("printserver/run/cups/printcap"), dir / "run/cups/printcap",
                  fs::copy_options::overwrite_existing);
    auto printers = lnxtest::Collect(wmi::MakeLinuxProvider(dir.string()), "Win32_Printer");
    ASSERT_EQ(printers.size(), 2u);
    EXPECT_EQ(printers[0].Get("Description"), wmi::Value("Office laser, 2nd floor"));
    EXPECT_TRUE(printers[0].Get("PrinterStatus").isNull());
    EXPECT_TRUE(printers[0].Get("Default").isNull());
    fs::remove_all(dir);
    EXPECT_TRUE(CollectIn("laptop", "Win32_Printer").empty());
    // Print jobs live in the spooler's binary files: not answered.
    EXPECT_THROW(CollectIn("printserver", "Win32_PrintJob"), wmi::Error);
}

TEST(StartMenu, DesktopEntriesGroupedByMainCategory) {
    auto groups = CollectIn("printserver", "Win32_LogicalProgramGroup");
    std::vector<std::string> names;
    for (const auto& g : groups) names.push_back(g.Get("Name").asString());
    EXPECT_EQ(names, (std::vector<std::string>{"All Users:Other", "All Users:System", "All Users:Utility"}));
    EXPECT_EQ(groups[1].Get("GroupName"), wmi::Value("System"));
    EXPECT_EQ(groups[1].Get("UserName"), wmi::Value("All Users"));

    auto items = CollectIn("printserver", "Win32_LogicalProgramGroupItem");
    ASSERT_EQ(items.size(), 3u);  // not the hidden entry, not the link
    EXPECT_EQ(items[2].Get("Name"), wmi::Value("All Users:Utility\\Text Editor"));
    EXPECT_EQ(CollectIn("printserver", "Win32_ProgramGroupOrItem").size(), 6u);
    EXPECT_EQ(CollectIn("printserver", "Win32_ProgramGroup").size(), 3u);
    EXPECT_TRUE(CollectIn("laptop", "Win32_LogicalProgramGroup").empty());
}
