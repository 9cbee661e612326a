#include "core/layout.h"

#include <algorithm>

namespace kestrane {

LayoutResult ArrangeControls(const LayoutInput& in) {
    LayoutResult r;
    r.band = in.band;
    r.tree = in.tree;
    r.list = in.list;
    r.band.left = 0;
    r.band.top = 0;
    if (in.windowWidth > kWidthThreshold) {
        r.band.width = in.clientWidth;
        r.list.width = std::max(0.0, in.clientWidth - r.tree.width - kPaneGap);
    }
    if (in.windowHeight > kHeightThreshold) {
        double h = std::max(0.0, in.clientHeight - in.bandHeight - in.statusHeight);
        r.tree.height = h;
        r.list.height = h;
    }
    r.band.height = in.bandHeight;
    r.tree.left = 0;
    r.tree.top = r.band.top + in.bandHeight;
    r.list.left = r.tree.left + r.tree.width + kPaneGap;
    r.list.top = r.tree.top;
    r.progress = {(in.windowWidth - in.progressWidth) / 2, (in.windowHeight - in.progressHeight) / 2,
                  in.progressWidth, in.progressHeight};
    r.firstColumn = r.list.width / 3;
    r.secondColumn = kSecondColumnWidth;
    return r;
}

SplitterResult SplitterMove(const SplitterInput& in) {
    SplitterResult r;
    r.sizingPointer = in.sizingPointer;
    if (in.x > in.treeWidth && in.x < in.listLeft)
        r.sizingPointer = true;
    else if (!in.leftButton)
        r.sizingPointer = false;
    if (r.sizingPointer && in.leftButton && in.x > kSplitterMargin &&
        in.x < in.clientWidth - kSplitterMargin) {
        double tree = in.x > in.treeWidth + kSplitterOffset ? in.x + kSplitterOffset
                                                           : in.x - kSplitterOffset;
        r.treeWidth = tree;
        r.listWidth = std::max(0.0, in.clientWidth - tree - kPaneGap);
        r.listLeft = tree + kPaneGap;
    }
    return r;
}

}  // namespace kestrane
