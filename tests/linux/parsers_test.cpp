#include <gtest/gtest.h>

#include <cstring>

#include "linux_test_util.h"
#include "wmi/linux/parsers.h"

using namespace wmi::lnx;

using lnxtest::ReadFixtureFile;

TEST(TextHelpers, NumbersRejectTrailingGarbageAndEmptyText) {
    struct Case { const char* in; std::optional<std::int64_t> out; };
    const Case cases[] = {{"42\n", 42}, {"  -7 ", -7}, {"", std::nullopt}, {"12abc", std::nullopt},
                          {"9223372036854775808", std::nullopt}, {"0", 0}};
    for (const auto& c : cases) EXPECT_EQ(ParseInt(c.in), c.out) << c.in;
    EXPECT_EQ(ParseUInt("0x8086\n", 16), 0x8086u);
    EXPECT_EQ(ParseUInt("0x", 16), std::nullopt);
    EXPECT_EQ(ParseUInt("-1"), std::nullopt);
}

TEST(TextHelpers, FindKeyValueAgreesWithTheMap) {
    const std::string texts[] = {
        "Name:\tbash\nVmSize:\t  1234 kB\nVmSizeX: 9\n",
        "  VmSize :  1 kB\r\nVmSize: 2 kB\r\n",      // later keys win; spaces and CR around
        "xVmSize: 1\nName: VmSize: 3\n VmSize\n",     // the key inside other keys, values, lines without ':'
        "VmSize:",
        "VmSize: 7",
        "",
        std::string("\0VmSize:\t5\n", 11),
        "Vm Size: 1\nVmSize:\n",
    };
    for (const auto& t : texts) {
        auto map = ParseKeyValueLines(t, ':');
        for (const char* key : {"VmSize", "Name", "VmSizeX", "Vm Size", "Size"}) {
            auto it = map.find(key);
            auto found = FindKeyValue(t, key, ':');
            if (it == map.end()) {
                EXPECT_EQ(found, std::nullopt) << key << " in " << t;
            } else {
                EXPECT_EQ(found.value_or("<none>"), it->second) << key << " in " << t;
            }
        }
    }
    EXPECT_EQ(FirstTwoWords("  12 kB extra"), std::make_pair(std::string_view("12"), std::string_view("kB")));
    EXPECT_EQ(FirstTwoWords("12"), std::make_pair(std::string_view("12"), std::string_view()));
}

TEST(TextHelpers, CpuListRangesAndMalformedInput) {
    EXPECT_EQ(ParseCpuList("0-3\n"), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(ParseCpuList("0,2,4-5"), (std::vector<int>{0, 2, 4, 5}));
    EXPECT_EQ(ParseCpuList("7"), (std::vector<int>{7}));
    for (const char* bad : {"3-1", "a-b", ""}) EXPECT_TRUE(ParseCpuList(bad).empty()) << bad;
}

TEST(TextHelpers, UnescapeKernelAndUdevNames) {
    EXPECT_EQ(UnescapeOctal("/media/My\\040Disk"), "/media/My Disk");
    EXPECT_EQ(UnescapeOctal("tab\\011x"), "tab\tx");
    EXPECT_EQ(UnescapeOctal("end\\04"), "end\\04");  // incomplete escape stays
    EXPECT_EQ(UnescapeHex("My\\x20Stick"), "My Stick");
    EXPECT_EQ(UnescapeHex("bad\\xZZ"), "bad\\xZZ");
}

TEST(CpuInfo, RecordsWithoutBlankLinesSplitAtProcessor) {
    auto recs = ParseCpuInfo("processor : 0\nBogoMIPS : 50\nprocessor : 1\nBogoMIPS : 51\n");
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1].get("BogoMIPS"), "51");
}

TEST(MemInfo, SkipsLinesWithoutAFigure) {
    auto bad = ParseMemInfo("Broken line\nHugePages_Total:       0\nX: abc kB\n");
    EXPECT_EQ(bad.size(), 1u);
    EXPECT_EQ(bad["HugePages_Total"], 0u);
}

TEST(MountInfo, OptionalFieldsEscapesAndBadLines) {
    const char* text =
        "36 35 98:0 /mnt1 /mnt/a\\040b rw,noatime master:1 shared:2 - ext3 /dev/root rw,errors=continue\n"
        "garbage line\n"
        "37 35 0:5 / /proc rw - proc proc rw\n"
        "38 35 x:0 / /bad rw - ext4 /dev/x rw\n";
    auto m = ParseMountInfo(text);
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].mountPoint, "/mnt/a b");
    EXPECT_EQ(m[0].root, "/mnt1");
    EXPECT_EQ(m[0].fsType, "ext3");
    EXPECT_EQ(m[0].superOptions, "rw,errors=continue");
    EXPECT_EQ(m[1].fsType, "proc");
}

TEST(OsRelease, QuotesCommentsAndEscapes) {
    auto m = ParseOsRelease("# c\nNAME=\"Foo Linux\"\nID=foo\nVERSION='1 (x)'\nX=\"a\\\"b\"\nBROKEN\n=novalue\n");
    EXPECT_EQ(m["VERSION"], "1 (x)");
    EXPECT_EQ(m["X"], "a\"b");
    EXPECT_EQ(m.size(), 4u);  // not BROKEN, not the nameless one
}

TEST(DmiDate, TwoDigitYearsAndImpossibleDates) {
    auto d = ParseDmiDate("12/01/99");
    ASSERT_TRUE(d);
    EXPECT_EQ(std::tie(d->year, d->month, d->day), std::make_tuple(1999, 12, 1));
    for (const char* bad : {"13/01/2020", "2020-01-01", "01/32/2020", ""}) EXPECT_FALSE(ParseDmiDate(bad)) << bad;
}

TEST(Vpd, SerialPage) {
    // The laptop's disk serial shows in its listing.
    EXPECT_EQ(ParseVpdSerial(std::string("\x00\x83\x00\x04" "AB12", 8)), std::nullopt);  // other page
    EXPECT_EQ(ParseVpdSerial(std::string("\x00\x80\x00\x09" "AB12", 8)), std::nullopt);  // truncated
    EXPECT_EQ(ParseVpdSerial(std::string("\x00\x80\x00\x02" "  ", 6)), std::nullopt);    // blank
}

TEST(IdNames, VendorAndDeviceLookup) {
    const char* ids =
        "# comment\n"
        "1234  Acme\n"
        "\t5678  Widget\n"
        "\t\t1111 2222  Sub widget\n"
        "C 00  Unclassified\n"
        "\t00  Non-VGA\n";
    // The laptop's devices, named in its listing, are found the plain way.
    auto other = LookupIdNames(ids, 0x1234, 0x1111);  // a subsystem id is no device
    EXPECT_EQ(other.vendor, "Acme");
    EXPECT_EQ(other.device, std::nullopt);
    auto none = LookupIdNames(ids, 0x00, 0x00);  // a class section is no vendor
    EXPECT_EQ(none.vendor, std::nullopt);
    EXPECT_EQ(none.device, std::nullopt);
}

TEST(Smbios, StringIndexOutOfRangeAndEntryPointVersions) {
    // type 1, length 8, handle 0x0102, string refs 1 and 3; one string only
    std::string s("\x01\x08\x02\x01\x01\x03\x00\x00" "Vendor\0\0", 16);
    auto t = ParseSmbios(s);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].handle, 0x0102);
    EXPECT_EQ(t[0].stringAt(4), "Vendor");
    EXPECT_EQ(t[0].stringAt(5), std::nullopt);
    EXPECT_EQ(t[0].stringAt(6), std::nullopt);  // index 0 means none
    EXPECT_TRUE(ParseSmbios(std::string("\x01\x40\x00\x00", 4)).empty());       // length beyond the data
    EXPECT_TRUE(ParseSmbios(std::string("\x01\x04\x00\x00" "abc", 7)).empty());  // strings without their end
    // The laptop's entry point (version 3) shows in its listing; this is an older one.
    std::string e2(0x1F, '\0');
    std::memcpy(e2.data(), "_SM_", 4);
    e2[6] = 2;
    e2[7] = 8;
    EXPECT_EQ(ParseSmbiosEntryVersion(e2), std::make_pair(2, 8));
    EXPECT_EQ(ParseSmbiosEntryVersion("_SM_"), std::nullopt);
}

TEST(Edid, RejectsABadChecksumOrHeader) {
    std::string blob = ReadFixtureFile("laptop/sys/devices/pci0000:00/0000:00:02.0/drm/card0/card0-eDP-1/edid");
    std::string bad = blob;
    bad[100] ^= 1;
    EXPECT_FALSE(ParseEdid(bad));
    std::string header = blob;
    header[0] = 1;
    EXPECT_FALSE(ParseEdid(header));
    EXPECT_FALSE(ParseEdid(blob.substr(0, 127)));
}

// The laptop's interrupts, DMA channels and ranges show in its listing;
// here the lines it lacks.
TEST(ProcResources, ShortAndMalformedLines) {
    auto irqs = ParseInterrupts("           CPU0       CPU1\n  0:         33          0   IO-APIC   2-edge      timer\n"
                                "ERR:          0\n");
    ASSERT_EQ(irqs.size(), 2u);
    EXPECT_EQ(irqs[1].counts.size(), 1u);
    auto dma = ParseDma(" 4: cascade\nfoo\n 2: floppy\n");
    ASSERT_EQ(dma.size(), 2u);
    EXPECT_EQ(dma[1].owner, "floppy");
    EXPECT_EQ(ParseResourceTree("0000-0cf7 : PCI Bus 0000:00\nbad\n  0000-001f : dma1\n").size(), 2u);
}

TEST(ProcStat, BootTimeAndPerProcessorBusyAndTotal) {
    EXPECT_EQ(ParseBootTime("cpu 1 2 3\nbtime\n"), std::nullopt);
    auto t = ParseCpuBusyTimes(
        "cpu  10 0 10 100 0 0 0 0 0 0\n"
        "cpu0 1 2 3 4 5 6 7 8 9 10\n"
        "cpu1 10 0 0 90\n"
        "cpux 1 2 3 4\n"
        "intr 5\n");
    ASSERT_EQ(t.size(), 2u);  // the total line and malformed ones are not processors
    EXPECT_EQ(t[0].busy, 1u + 2 + 3 + 6 + 7 + 8);  // guest times are inside user already
    EXPECT_EQ(t[0].total, t[0].busy + 4 + 5);
    EXPECT_EQ(t[1].busy, 10u);
    EXPECT_EQ(t[1].total, 100u);
}

TEST(PacmanLog, FirstStampInBothFormats) {
    EXPECT_EQ(ParsePacmanLogStart("[2023-01-05T10:11:12+0100] [PACMAN] Running 'pacman -Sy'\n[2024-...]"),
              "20230105101112.000000+060");
    EXPECT_EQ(ParsePacmanLogStart("[2012-08-20 18:22] Running 'pacman -S base'\n"), "20120820182200.000000+000");
    EXPECT_EQ(ParsePacmanLogStart("[2023-01-05T10:11:12-0330] x"), "20230105101112.000000-210");
    EXPECT_EQ(ParsePacmanLogStart("[2023-13-05T10:11:12+0100] x"), std::nullopt);
    EXPECT_EQ(ParsePacmanLogStart("[2023-01-05T10:11:12+01] x"), std::nullopt);
    EXPECT_EQ(ParsePacmanLogStart("no stamp here"), std::nullopt);
    EXPECT_EQ(ParsePacmanLogStart(""), std::nullopt);
}
