#include <gtest/gtest.h>

#include "linux_test_util.h"
#include "wmi/linux/cups_parsers.h"
#include "wmi/linux/ipp_parser.h"

using namespace wmi::lnx;

TEST(CupsParsers, PrintersConfBlocks) {
    auto ps = ParseCupsPrinters(
        "# comment\n<DefaultPrinter A>\nInfo First one\nState Idle\nShared Yes\n</DefaultPrinter>\n"
        "Stray line\n<Printer B>\r\nDeviceURI ipp://h/printers/b\r\nAccepting maybe\r\n</Printer>\n"
        "<Printer>\nInfo nameless\n</Printer>\n<Printer C>\nInfo left open");
    ASSERT_EQ(ps.size(), 3u);
    EXPECT_TRUE(ps[0].isDefault);
    EXPECT_FALSE(ps[1].isDefault);
    EXPECT_EQ(ps[1].deviceUri, "ipp://h/printers/b");
    EXPECT_FALSE(ps[1].accepting.has_value());  // neither yes nor no
    EXPECT_EQ(ps[2].name, "C");
    EXPECT_EQ(ps[2].info, "left open");
    EXPECT_TRUE(ParseCupsPrinters("<Printer X").empty());
}

TEST(CupsParsers, PrintcapAndUris) {
    // The printserver's own entries and ports show in its listing.
    auto ps = ParsePrintcap("# gen\nA|Info A:rm=h:rp=A:\nB:rm=h:\n|nameless:\n");
    ASSERT_EQ(ps.size(), 2u);
    EXPECT_FALSE(ps[1].info.has_value());
    auto u = ParseDeviceUri("lpd://user@print.example.org/queue7");
    ASSERT_TRUE(u);
    EXPECT_EQ(u->host, "print.example.org");
    EXPECT_FALSE(u->port);
    u = ParseDeviceUri("ipp://[2001:db8::1]:631/printers/x?waitjob=false");
    EXPECT_EQ(u->host, "[2001:db8::1]");
    EXPECT_EQ(u->port, 631);
    EXPECT_EQ(u->queue, "x");
    EXPECT_EQ(ParseDeviceUri("socket://h:99999")->port, std::nullopt);
    EXPECT_FALSE(ParseDeviceUri("usb:/nothing"));
    EXPECT_FALSE(ParseDeviceUri("://x"));
}

namespace {

std::string Counted(std::string_view s) {
    return std::string{static_cast<char>(s.size() >> 8), static_cast<char>(s.size() & 0xff)} + std::string(s);
}

std::string Attr(std::uint8_t tag, std::string_view name, std::string_view value) {
    return std::string(1, static_cast<char>(tag)) + Counted(name) + Counted(value);
}

// A message of one job group around body, and its end tag.
std::string JobMessage(const std::string& body) {
    return std::string("\x02\x00\x00\x02\x00\x00\x00\x01\x02", 9) + body + "\x03";
}

}  // namespace

TEST(IppParser, ReadsAControlFileAsCupsdWroteIt) {
    // The job's values show in the printserver listing; here what does not.
    std::string bytes = lnxtest::ReadFixtureFile("printserver/var/spool/cups/c00008");
    auto m = ParseIppMessage(bytes);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->find("document-format")->group, 1);  // the request's operation group
    EXPECT_EQ(m->find("job-state")->group, 2);
    // The members of media-col are walked over, not taken for attributes.
    EXPECT_EQ(m->find("x-dimension"), nullptr);
    ASSERT_NE(m->find("print-color-mode"), nullptr);
    EXPECT_EQ(m->find("print-color-mode")->values.size(), 2u);

    // Cut short anywhere, the file is refused whole, as cupsd refuses it.
    for (std::size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(ParseIppMessage(std::string_view(bytes).substr(0, n))) << n;
}

TEST(IppParser, RefusesMessagesOutOfStructure) {
    std::string integer = Attr(0x21, "job-id", std::string("\0\0\0\x07", 4));
    ASSERT_TRUE(ParseIppMessage(JobMessage(integer)));
    EXPECT_FALSE(ParseIppMessage(JobMessage(Attr(0x21, "", std::string("\0\0\0\x07", 4)))));  // a further value of nothing
    EXPECT_FALSE(ParseIppMessage(JobMessage(integer + Attr(0x37, "", ""))));    // end of no collection
    EXPECT_FALSE(ParseIppMessage(JobMessage(integer + Attr(0x4A, "", "x"))));   // member outside one
    EXPECT_FALSE(ParseIppMessage(JobMessage(integer + std::string(1, '\0'))));  // group tag 0
    EXPECT_FALSE(ParseIppMessage(JobMessage(Attr(0x34, "c", "") + "\x02" + Attr(0x37, "", ""))));
    EXPECT_FALSE(ParseIppMessage(JobMessage(Attr(0x34, "c", "") + Attr(0x21, "named", "1234"))));
    // A value longer than what is left.
    EXPECT_FALSE(ParseIppMessage(JobMessage(std::string("\x21\x00\x01x\x00\x09" "abc", 9))));

    // cupsd reads ten nested collections, not eleven.
    auto nested = [](int depth) {
        std::string body = Attr(0x34, "c", "");
        for (int i = 1; i < depth; ++i) body += Attr(0x4A, "", "m") + Attr(0x34, "", "");
        for (int i = 0; i < depth; ++i) body += Attr(0x37, "", "");
        return JobMessage(body + Attr(0x21, "after", std::string("\0\0\0\x01", 4)));
    };
    auto ten = ParseIppMessage(nested(10));
    ASSERT_TRUE(ten);
    EXPECT_EQ(IppInteger(ten->find("after")), 1);
    EXPECT_FALSE(ParseIppMessage(nested(11)));
}

// One attribute of the given syntax and value, read back with a reader.
template <class Read>
auto Decode(Read read, std::uint8_t tag, std::string_view value) {
    auto m = ParseIppMessage(JobMessage(Attr(tag, "a", value)));
    EXPECT_TRUE(m);
    return m ? read(&m->attributes.at(0)) : decltype(read(nullptr)){};
}

TEST(IppParser, ValueSyntaxes) {
    EXPECT_EQ(Decode(IppInteger, 0x21, "\xff\xff\xff\xfe"), -2);
    EXPECT_EQ(Decode(IppInteger, 0x23, std::string("\0\0\0\x09", 4)), 9);
    EXPECT_FALSE(Decode(IppInteger, 0x21, std::string("\0\0\x07", 3)));  // three bytes
    EXPECT_FALSE(Decode(IppInteger, 0x22, std::string("\0\0\0\x01", 4)));  // a boolean
    EXPECT_EQ(Decode(IppString, 0x35, Counted("de") + Counted("Bericht")), "Bericht");
    EXPECT_FALSE(Decode(IppString, 0x35, Counted("de") + std::string("\x00\x09short", 7)));
    EXPECT_FALSE(Decode(IppString, 0x30, "octets"));
    // 2024-12-06 11:16:40 at UTC+1 is 10:16:40 UTC; deci-seconds are dropped.
    std::string date("\x07\xe8\x0c\x06\x0b\x10\x28\x05+\x01\x00", 11);
    EXPECT_EQ(Decode(IppDateTime, 0x31, date), 1733480200);
    date[8] = '-';
    EXPECT_EQ(Decode(IppDateTime, 0x31, date), 1733480200 + 2 * 3600);
    date[2] = 13;
    EXPECT_FALSE(Decode(IppDateTime, 0x31, date));
    EXPECT_FALSE(Decode(IppDateTime, 0x31, date.substr(0, 8)));
}

TEST(CupsParsers, JobCacheAsCupsdWritesIt) {
    auto jobs = ParseJobCache(
        "# Job cache file for CUPS v2.4.2\nNextJobId 20\n"
        "<Job 3>\nState 4\nCreated 1733480200\nPriority 100\nUsername bob\n"
        "Name Labels \\#4 \\\\ two\\nlines # a comment\nDestination Label_Writer\nKOctets 3\n"
        "File 1 text/plain 0\nFile 2 image/png 0\n</Job>\n"
        "<Job 0>\nState 3\n</Job>\n"
        "<job 4>\r\nSTATE 12\r\n<Job 5>\r\nPriority many\r\nState\r\n</Job>\r\n"
        "State 3\n<Job 6>\nState 1\n</Job>\n<Job 7>\nState 3\n");
    // Plain fields: PrintJobsAsOtherUsersSeeThem reads the printserver's.
    ASSERT_EQ(jobs.size(), 3u);  // not 0, not 7 (cut short); 5 is inside 4
    EXPECT_EQ(jobs[0].id, 3);
    EXPECT_EQ(jobs[0].user, "bob");
    EXPECT_EQ(jobs[0].name, "Labels #4 \\ two\nlines");
    EXPECT_EQ(jobs[0].format, "text/plain");  // the first document's
    EXPECT_EQ(jobs[1].id, 4);
    EXPECT_EQ(jobs[1].state, 9);  // clamped as cupsd does
    EXPECT_FALSE(jobs[1].priority);
    EXPECT_EQ(jobs[2].id, 6);
    EXPECT_EQ(jobs[2].state, 3);
    EXPECT_TRUE(jobs[2].queued());
    EXPECT_FALSE(jobs[1].queued());

    auto d = ParseCupsFilesConf("RequestRoot /srv/cups/spool # moved\nCacheDir relative/path\n");
    EXPECT_EQ(d.spool, "/srv/cups/spool");
    EXPECT_EQ(d.cache, "/var/cache/cups");
}

TEST(CupsParsers, NamesInTheSpool) {
    EXPECT_EQ(ControlFileJobId("c00042"), 42);
    EXPECT_EQ(ControlFileJobId("c00042.O"), 42);
    EXPECT_EQ(ControlFileJobId("c123456"), 123456);
    for (const char* other : {"c", "c0", "c00042.N", "d00042-001", "cabc", "c-1", "c99999999999", ".O"})
        EXPECT_FALSE(ControlFileJobId(other)) << other;
    EXPECT_EQ(ControlFileName(42), "c00042");
    EXPECT_EQ(ControlFileName(123456), "c123456");

    EXPECT_EQ(QueueFromPrinterUri("ipp://localhost/printers/Office_Laser"), "Office_Laser");
    EXPECT_EQ(QueueFromPrinterUri("ipp://localhost:631/classes/All%20Floors?x=1"), "All Floors");
    EXPECT_EQ(QueueFromPrinterUri("ipp://h/printers/odd%4"), "odd%4");
    for (const char* other : {"ipp://h/jobs/3", "ipp://h/printers/", "ipp://h/printers/a/b", "ipp://h", ""})
        EXPECT_FALSE(QueueFromPrinterUri(other)) << other;

    // Letter and A4 show in the printserver's listing.
    for (const char* other : {"A4", "iso_a4_210x297", "x_0x5mm", "x_1.23456x5in", "x_5in", "x_1.2.3x4mm", "x_x4mm"})
        EXPECT_FALSE(ParsePwgMediaSize(other)) << other;
}

TEST(PrintingClasses, PrintJobsAsOtherUsersSeeThem) {
    // Group lp: job.cache is readable, the control files are there but
    // root's, and the spool cannot be listed.
    const std::string spool = "/var/spool/cups";
    auto lp = lnxtest::Filtered(
        lnxtest::Fixture("printserver"),
        [&](const std::string& p, std::string c) { return p.starts_with(spool) ? std::nullopt : std::optional(c); },
        [&](const std::string& p) { return p != spool; });
    auto jobs = lnxtest::Collect(lp, "Win32_PrintJob");
    std::vector<std::string> names;
    for (const auto& j : jobs) names.push_back(j.Get("Name").asString());
    // 10 is listed as job.cache has it: its damage cannot be seen from here.
    EXPECT_EQ(names, (std::vector<std::string>{"Office_Laser, 7", "Label_Writer, 8", "Old_Queue, 9", "Office_Laser, 10"}));
    ASSERT_EQ(jobs.size(), 4u);
    EXPECT_EQ(jobs[1].Get("Document"), wmi::Value("Shipping labels #4"));
    EXPECT_EQ(jobs[1].Get("Priority"), wmi::Value(99));
    EXPECT_EQ(jobs[1].Get("DataType"), wmi::Value("text/plain"));
    EXPECT_EQ(jobs[1].Get("TimeSubmitted"), wmi::Value("20241206101640.000000+000"));
    EXPECT_EQ(jobs[1].Get("Size"), wmi::Value(3 * 1024));
    EXPECT_TRUE(jobs[1].Get("HostPrintQueue").isNull());  // not in job.cache
    EXPECT_TRUE(jobs[1].Get("PagesPrinted").isNull());

    // Anyone else: neither the spool nor the cache, and no error.
    auto other = lnxtest::Filtered(
        lnxtest::Fixture("printserver"),
        [](const std::string& p, std::string c) { return p.starts_with("/var/cache/cups") ? std::nullopt : std::optional(c); },
        [&](const std::string& p) { return !p.starts_with(spool); });
    EXPECT_TRUE(lnxtest::Collect(other, "Win32_PrintJob").empty());
    EXPECT_EQ(lnxtest::Collect(other, "Win32_Printer").size(), 3u);
}

