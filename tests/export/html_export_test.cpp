#include <gtest/gtest.h>

#include "core/file_error.h"
#include "export/html_export.h"
#include "wmi/test_support.h"

using namespace kestrane;
using kestrane_test::ReadAll;
using kestrane_test::ScratchDir;

namespace {

const std::string kTable =
    "<table  border=\"1\" cellpadding=\"0\" cellspacing=\"0\" style=\"border-collapse: collapse\" "
    "bordercolor=\"#111111\" width=\"100%\" id=\"AutoNumber1\">";

std::string Head(const std::string& heading, const std::vector<std::string>& cols) {
    std::string s = "\r\n<H2>" + heading + "</H2>\r\n\r\n" + kTable + "\r\n<tr>\r\n";
    for (const auto& c : cols) s += "<td><b>" + c + "</b></td>";
    return s + "\r\n</tr>\r\n";
}

std::string Row(const std::string& a, const std::string& b) {
    return "\r\n<tr>\r\n<td><b>" + a + "</b></td><td>" + b + "</td>\r\n</tr>";
}

ListModel TwoColumns(int items) {
    ListModel m;
    for (int i = 1; i <= items; ++i) {
        auto r = m.addRow("k" + std::to_string(i), "Name" + std::to_string(i), "Info");
        m.setSubItem(r, 1, "Value" + std::to_string(i));
    }
    return m;
}

}  // namespace

TEST(HtmlExport, EveryColumnOfEveryRowByteForByte) {
    EXPECT_EQ(BuildHtmlExport("Processor", TwoColumns(3)), Head("Processor", {"Name", "Value"}) + Row("Name1", "Value1") +
                                                               Row("Name2", "Value2") + Row("Name3", "Value3"));
    ListModel five = TwoColumns(1);
    five.clearColumns();
    for (const char* c : {"P1", "P2", "P3", "P4", "P5"}) five.addColumn(c, c);
    five.setSubItem(0, 4, "last");  // every column of every row, none lost
    EXPECT_EQ(BuildHtmlExport("X", five), Head("X", {"P1", "P2", "P3", "P4", "P5"}) +
                                              "\r\n<tr>\r\n<td><b>Name1</b></td><td>Value1</td><td></td><td></td><td>last</td>\r\n</tr>");

    EXPECT_EQ(BuildHtmlExport("X", TwoColumns(0)), Head("X", {"Name", "Value"}));

    // One column: whole rows, the second cell empty.
    ListModel one;
    one.clearColumns();
    one.addColumn("P1", "P1");
    one.addRow("Val1", "only", "");
    EXPECT_EQ(BuildHtmlExport("X", one), Head("X", {"P1"}) + Row("only", ""));
}

TEST(HtmlExport, TextsFromTheComputerCannotInjectMarkup) {
    ListModel m;
    m.addColumn("P", "<img src=x>");  // a caption can be a property name read from a file
    auto r = m.addRow("", "<script>alert(1)</script>", "");
    m.setSubItem(r, 1, "<b> & \"quoted\"");
    std::string out = BuildHtmlExport("A&B <i>", m);
    EXPECT_NE(out.find("<H2>A&amp;B &lt;i&gt;</H2>"), std::string::npos);
    EXPECT_NE(out.find("<td><b>&lt;img src=x&gt;</b></td>"), std::string::npos);
    EXPECT_NE(out.find("<td><b>&lt;script&gt;alert(1)&lt;/script&gt;</b></td>"), std::string::npos);
    EXPECT_NE(out.find("<td>&lt;b&gt; &amp; &quot;quoted&quot;</td>"), std::string::npos);
    EXPECT_EQ(out.find("<script"), std::string::npos);
    EXPECT_EQ(out.find("<img"), std::string::npos);
}

TEST(HtmlExport, WindowsCodePageWithReferencesForTheRest) {
    EXPECT_EQ(EscapeForExport("caf\xC3\xA9"), "caf\xE9");          // é is one byte
    EXPECT_EQ(EscapeForExport("\xE2\x82\xAC"), "\x80");            // € sits at 0x80
    EXPECT_EQ(EscapeForExport("\xE6\x97\xA5"), "&#26085;");        // 日 is not in the code page
    EXPECT_EQ(EscapeForExport("\xF0\x9F\x98\x80"), "&#128512;");   // outside the BMP
    EXPECT_EQ(EscapeForExport("\xFF"), "&#65533;");                // not UTF-8: marked, never dropped
    EXPECT_EQ(EscapeForExport(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(ExportFile, AppendsToWhatTheFileHeld) {
    ScratchDir dir;
    const std::string p = dir.write("out.html", "before");
    SaveToFile("Processor", TwoColumns(2), p);
    SaveToFile("Processor", TwoColumns(2), p);
    SaveToFile(std::nullopt, TwoColumns(2), p);  // no selected node: nothing
    const std::string one = BuildHtmlExport("Processor", TwoColumns(2));
    EXPECT_EQ(ReadAll(p), "before" + one + one);
    SaveToFile(std::nullopt, TwoColumns(2), dir.file("empty.html"));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"empty.html", "out.html"}));
    EXPECT_EQ(ReadAll(dir.file("empty.html")), "");
}

TEST(ExportFile, UnwritablePathsAreErrorsNamingTheFile) {
    ScratchDir dir;
    try {
        SaveToFile("X", TwoColumns(1), dir.file("no/such/x.html"));
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("x.html"), std::string::npos);
    }
    EXPECT_THROW(SaveToFile("X", TwoColumns(1), dir.path().string()), FileError);  // a directory
    EXPECT_THROW(SaveToFile("X", TwoColumns(1), "/dev/full"), FileError);        // a write that fails
}
