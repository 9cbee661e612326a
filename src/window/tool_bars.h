// The buttons of the window's tool bars, for every front end to draw.
#pragma once

#include <span>

namespace kestrane::window {

struct ToolButton {
    const char* text;   // the tool tip; for a category button, the node it opens
    const char* image;  // image key (icons.h)
};

// System Summary, Connect To..., Refresh, Exit, About.
std::span<const ToolButton> MainToolButtons();
// The two bars of category buttons (bar 1 or 2).
std::span<const ToolButton> CategoryButtons(int bar);

}  // namespace kestrane::window
