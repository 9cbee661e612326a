#include <gtest/gtest.h>

#include <set>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "catalogue/catalogue.h"

using namespace kestrane;

namespace {

TreeModel Build(std::uint8_t level, std::string computer = "") {
    AppState st;
    st.gbytLevel = level;
    st.gstrComputer = std::move(computer);
    TreeModel t;
    BuildCategoryTree(t, st);
    return t;
}

std::vector<std::string> ChildTexts(const TreeModel& t, const std::string& key) {
    std::vector<std::string> out;
    for (int c : t.node(t.find(key)).children) out.push_back(t.node(c).text);
    return out;
}

}  // namespace

TEST(Catalogue, OrderIsTheCataloguesNotAlphabetical) {
    auto t = Build(3);
    EXPECT_EQ(ChildTexts(t, "WMI Management"), (std::vector<std::string>{"WMI Setting", "WMI Element Setting"}));
    // A key with a trailing blank is its own node, not the class without it.
    EXPECT_EQ(t.node(t.find("Win32_FloppyController ")).text, "Floppy Controller ");
    EXPECT_EQ(t.find("Win32_FloppyController"), -1);
}

TEST(Catalogue, ClassificationIsCaseSensitive) {
    EXPECT_EQ(ClassifyNodeKey("Win32_Processor"), NodeKind::Class);
    EXPECT_EQ(ClassifyNodeKey("CIM_VideoControllerResolution"), NodeKind::Class);
    EXPECT_EQ(ClassifyNodeKey("cim_VideoControllerResolution"), NodeKind::Category);
    EXPECT_EQ(ClassifyNodeKey("win32_Processor"), NodeKind::Category);
    EXPECT_EQ(ClassifyNodeKey("[Root...]"), NodeKind::Root);
    EXPECT_EQ(ClassifyNodeKey("[root...]"), NodeKind::Category);
}

TEST(Catalogue, RootTextExpansionAndSelection) {
    auto t = Build(1, "");
    int root = t.find(kRootKey);
    EXPECT_EQ(root, 0);
    EXPECT_EQ(t.node(root).text, GetLocalComputerName());
    EXPECT_EQ(t.selected(), root);
    EXPECT_TRUE(t.node(root).expanded);
    EXPECT_TRUE(t.node(t.find("Operating System")).expanded);
    EXPECT_TRUE(t.node(t.find("Computer System Hardware")).expanded);
    EXPECT_FALSE(t.node(t.find("Mass Storage")).expanded);
    EXPECT_EQ(Build(1, ".").node(0).text, GetLocalComputerName());
    EXPECT_EQ(Build(1, " server 7").node(0).text, " server 7");
    EXPECT_EQ(Build(1, "lowercase").node(0).text, "lowercase");
}

TEST(Catalogue, RebuildingFromAnEmptyTreeLeavesNothingBehind) {
    AppState st;
    st.gbytLevel = 3;
    TreeModel t;
    BuildCategoryTree(t, st);
    EXPECT_THROW(BuildCategoryTree(t, st), TreeError);  // keys are unique
    t.clear();
    st.gbytLevel = 1;
    BuildCategoryTree(t, st);
    EXPECT_EQ(t.size(), Build(1).size());
    EXPECT_EQ(t.find("Performance Counters"), -1);
}

TEST(Catalogue, EveryNodeImageIsInBothPictureLists) {
    std::set<std::string> small(SmallImageKeys().begin(), SmallImageKeys().end());
    std::set<std::string> large(LargeImageKeys().begin(), LargeImageKeys().end());
    for (const auto& e : Catalogue()) {
        EXPECT_TRUE(small.count(e.image)) << e.image;
        EXPECT_TRUE(large.count(e.image)) << e.image;
    }
    EXPECT_TRUE(small.count("Crest"));
    EXPECT_FALSE(large.count("Crest"));
}

TEST(LocalComputerName, IsTheWholeHostName) {
    // Linux host names may be longer than 20 characters; none may be cut.
    std::string name = GetLocalComputerName();
    EXPECT_FALSE(name.empty());
#ifndef _WIN32
    char buf[1024] = {};
    ASSERT_EQ(::gethostname(buf, sizeof buf - 1), 0);
    EXPECT_EQ(name, std::string(buf));
#endif
}
