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

}  // namespace kestrane::win32
