// Controls that paint through a buffer of our own.
#pragma once

#include <windows.h>

namespace kestrane::win32 {

// The control paints into a 32-bit DIB section, copied to the screen at once.
// Besides sparing a flicker, this keeps the image lists' and themes' scratch
// bitmaps off the display: under Wine each one made for a window DC queries
// the display's depth, three server round trips, about a hundred of them at a
// paint of the tree, the list and the tool bars.
void PaintBuffered(HWND control);

// Lets a control that is not shown yet work out what its first paint would
// (item sizes, scroll ranges), painting nothing: Wine's list view sets its
// scroll bars during that paint, which then draws them on the screen, themed,
// at tens of milliseconds.
void SettleBeforeShown(HWND control);

}  // namespace kestrane::win32
