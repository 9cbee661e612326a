// Plain-text listings printed while they run: same text as printed at the
// end, and a cell wider than the first rows' columns pushes only its line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/cli.h"
#include "cli/text_listing.h"

namespace fs = std::filesystem;
using kestrane::ListModel;
using kestrane::cli::TextListing;

namespace {

ListModel Table(const std::vector<std::vector<std::string>>& rows, bool horizontal) {
    ListModel list;
    if (horizontal) {
        list.clearColumns();
        for (const char* c : {"X", "Y", "Z"}) list.addColumn(c, c);
    }
    for (const auto& cells : rows) {
        std::size_t r = list.addRow("", cells[0]);
        for (std::size_t c = 1; c < cells.size(); ++c) list.setSubItem(r, c, cells[c]);
    }
    return list;
}

// Feeds the rows one at a time, as a listing does, holding at most `held`.
std::string Streamed(const ListModel& all, bool horizontal, std::size_t held, std::size_t* printedEarly = nullptr) {
    std::ostringstream out;
    TextListing text(out, horizontal, held);
    ListModel list = Table({}, horizontal);
    for (const auto& r : all.rows()) {
        list.addRow(r);
        text.take(list);
    }
    if (printedEarly) *printedEarly = out.str().size();
    text.finish(list);
    return out.str();
}

}  // namespace

TEST(TextListing, StreamedTextIsTheHeldTextWhenNoLaterCellIsWider) {
    const std::vector<std::vector<std::string>> rows = {
        {"Processor", "1"}, {"    Name", "Intel\xC3\xA9"}, {"    Caption\xC3\xA9", "x", "y"}, {"", ""},
        {"Processor", "2"}, {"    Name", "AMD"}, {"    Caption", ""}, {"", "", "zz"}};
    for (bool horizontal : {false, true}) {
        SCOPED_TRACE(horizontal);
        const ListModel all = Table(rows, horizontal);
        std::ostringstream held;
        TextListing(held, horizontal).finish(all);
        std::size_t printedEarly = 0;
        EXPECT_EQ(Streamed(all, horizontal, 4, &printedEarly), held.str());
        EXPECT_GT(printedEarly, 0u);  // printed and dropped once the widths were settled
    }
}

TEST(TextListing, ALaterWiderCellPushesOnlyItsOwnLine) {
    const ListModel all = Table({{"aa", "bbbbbb", "c"}, {"a", "b", "c"}, {"aaaaa", "b", "c"}, {"a", "bbbbbbbbbbbb", "c"}},
                                true);
    EXPECT_EQ(Streamed(all, true, 2),
              "X   Y       Z\n"
              "aa  bbbbbb  c\n"
              "a   b       c\n"
              "aaaaa  b    c\n"            // back in its column where there is room
              "a   bbbbbbbbbbbb  c\n");  // two spaces where there is not
}

// The command-line tool streams a recorded class past the rows it holds.
TEST(TextListing, KestraneCliStreamsALongListing) {
    const fs::path file = fs::temp_directory_path() / ("kestrane-stream-" + std::to_string(::getpid()) + ".json");
    const std::size_t n = TextListing::kHeldRows + 10;
    {
        std::ofstream f(file);
        f << R"({"format": "kestrane-snapshot", "version": 1, "computer": "BIG", "captured": "", "classes": {)"
          << R"("Win32_Thread": {"properties": [)"
          << R"({"name": "Handle", "cimtype": 8, "array": false, "origin": "CIM_Thread"},)"
          << R"({"name": "Priority", "cimtype": 19, "array": false, "origin": "Win32_Thread"}], "instances": [)";
        for (std::size_t i = 1; i < n; ++i) f << R"({"Handle": ")" << i % 10 << "\"},";
        f << R"({"Handle": "0123456789", "Priority": 7}]}}})";
    }
    auto run = [&](std::vector<std::string> args) {
        std::ostringstream out, err;
        EXPECT_EQ(kestrane::cli::Run(args, out, err), 0) << err.str();
        return out.str();
    };
    const std::string across = run({"--snapshot", file.string(), "list", "Win32_Thread", "--horizontal"});
    EXPECT_EQ(across.substr(0, 21), "Handle  Priority\n1\n2\n");
    EXPECT_EQ(across.substr(across.size() - 14), "0123456789  7\n");
    const std::string down = run({"--snapshot", file.string(), "list", "Win32_Thread"});
    EXPECT_NE(down.find("    Handle  0123456789\n    Priority  7\n"), std::string::npos);
    fs::remove(file);
}
