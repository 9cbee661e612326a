// The main window's geometry as a pure function of sizes, in twips.
#pragma once

#include <optional>

namespace kestrane {

struct Rect {
    double left = 0, top = 0, width = 0, height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

inline constexpr double kPaneGap = 30;
inline constexpr double kWidthThreshold = 3000;
inline constexpr double kHeightThreshold = 2500;
inline constexpr double kSplitterMargin = 1000;
inline constexpr double kSplitterOffset = 30;
inline constexpr double kSecondColumnWidth = 20000;

struct LayoutInput {
    double windowWidth = 0, windowHeight = 0;  // outer
    double clientWidth = 0, clientHeight = 0;  // inner
    double bandHeight = 0, statusHeight = 0;
    double progressWidth = 0, progressHeight = 0;
    // The geometry before this pass: widths and heights are kept where the
    // window is too small to recompute them.
    Rect band, tree, list;
};

struct LayoutResult {
    Rect band, tree, list, progress;
    double firstColumn = 0, secondColumn = 0;
};

// Places band, tree, list and the progress area. Widths and heights that
// would go below zero (a tree dragged wide, then a narrow window) are held
// at zero.
LayoutResult ArrangeControls(const LayoutInput& in);

struct SplitterInput {
    double x = 0;             // pointer, client coordinates
    bool leftButton = false;
    double treeWidth = 0, listLeft = 0, clientWidth = 0;
    bool sizingPointer = false;  // the pointer's shape before this move
};

struct SplitterResult {
    bool sizingPointer = false;
    std::optional<double> treeWidth, listWidth, listLeft;  // set when the boundary moves
};

SplitterResult SplitterMove(const SplitterInput& in);

inline double TwipsToPixels(double twips, double dpi) { return twips * dpi / 1440.0; }
inline double PixelsToTwips(double px, double dpi) { return px * 1440.0 / dpi; }

}  // namespace kestrane
