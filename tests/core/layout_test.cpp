#include <gtest/gtest.h>

#include "core/layout.h"

using namespace kestrane;

namespace {
LayoutInput Window(double w, double h, double tree = 3700) {
    LayoutInput in;
    in.windowWidth = w;
    in.windowHeight = h;
    in.clientWidth = w - 120;
    in.clientHeight = h - 800;
    in.bandHeight = 600;
    in.statusHeight = 300;
    in.progressWidth = 4500;
    in.progressHeight = 1500;
    in.tree = {0, 0, tree, 1000};
    in.list = {0, 0, 5000, 1000};
    in.band = {0, 0, 7000, 600};
    return in;
}
}  // namespace

TEST(Layout, PanesFollowTheWindow) {
    LayoutResult r = ArrangeControls(Window(11535, 9950));
    EXPECT_EQ(r.band, (Rect{0, 0, 11415, 600}));
    EXPECT_EQ(r.tree, (Rect{0, 600, 3700, 9150 - 600 - 300}));
    EXPECT_EQ(r.list, (Rect{3730, 600, 11415 - 3700 - 30, 8250}));
    EXPECT_DOUBLE_EQ(r.firstColumn, (11415 - 3730) / 3.0);
    EXPECT_EQ(r.secondColumn, 20000);
    EXPECT_EQ(r.progress, (Rect{(11535 - 4500) / 2.0, (9950 - 1500) / 2.0, 4500, 1500}));
}

TEST(Layout, ThresholdsKeepOldSizes) {
    // At 3000 wide or 2500 high the old widths or heights stay.
    LayoutResult narrow = ArrangeControls(Window(3000, 9950));
    EXPECT_EQ(narrow.list.width, 5000);
    EXPECT_EQ(narrow.band.width, 7000);
    EXPECT_EQ(narrow.tree.height, 8250);
    EXPECT_DOUBLE_EQ(narrow.firstColumn, 5000 / 3.0);  // columns follow every pass
    LayoutResult low = ArrangeControls(Window(11535, 2500));
    EXPECT_EQ(low.tree.height, 1000);
    EXPECT_EQ(low.list.height, 1000);
    EXPECT_EQ(low.list.width, 11415 - 3730);
    LayoutResult justAbove = ArrangeControls(Window(3001, 2501));
    EXPECT_NE(justAbove.band.width, 7000);
}

TEST(Layout, SizesBelowZeroAreHeldAtZero) {
    LayoutInput in = Window(5000, 2600, 9000);
    in.bandHeight = 2000;  // the band wrapped in a short window
    LayoutResult r = ArrangeControls(in);
    EXPECT_EQ(r.list.width, 0);
    EXPECT_EQ(r.tree.height, 0);
    EXPECT_EQ(r.list.left, 9030);
}

TEST(Splitter, PointerAndDrag) {
    SplitterInput in;
    in.treeWidth = 3700;
    in.listLeft = 3730;
    in.clientWidth = 11415;
    in.x = 3715;  // over the gap
    SplitterResult over = SplitterMove(in);
    EXPECT_TRUE(over.sizingPointer);
    EXPECT_FALSE(over.treeWidth);

    in.sizingPointer = true;
    in.leftButton = true;
    in.x = 5000;  // right of the gap while dragging
    SplitterResult right = SplitterMove(in);
    EXPECT_EQ(right.treeWidth, 5030);
    EXPECT_EQ(right.listLeft, 5060);
    EXPECT_EQ(right.listWidth, 11415 - 5030 - 30);

    in.x = 2000;  // left of it
    EXPECT_EQ(SplitterMove(in).treeWidth, 1970);

    for (double x : {1000.0, 500.0, 10415.0, 11000.0}) {
        in.x = x;
        SplitterResult r = SplitterMove(in);
        EXPECT_FALSE(r.treeWidth) << x;
        EXPECT_TRUE(r.sizingPointer) << x;  // kept while the button is down
    }
    in.x = 1001;
    EXPECT_TRUE(SplitterMove(in).treeWidth);

    in.leftButton = false;
    in.x = 6000;  // released, away from the gap
    EXPECT_FALSE(SplitterMove(in).sizingPointer);
}
