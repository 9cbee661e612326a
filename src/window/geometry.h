// Restoring the window's stored size. The settings hold the outer size
// (frame included); a window is sized by its inside. Window managers add
// their frame only after the window is shown, so the frame measured at the
// first show may still be none: sizing the inside as the whole outer size
// then would make the window grow by its frame at every start. The size is
// set again, once, when the real frame becomes known.
#pragma once

#include <optional>

namespace kestrane::window {

struct Size {
    int width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

class SizeRestore {
public:
    // The stored outer size in pixels; a missing dimension keeps the
    // window's own.
    void start(std::optional<int> outerWidth, std::optional<int> outerHeight);
    // Called when shown and whenever the frame may have changed, with the
    // inside and the outer size as they are now. Returns the inside size to
    // set, or nothing when the window is already right.
    std::optional<Size> adjust(Size inner, Size outer);
    // The user or the program sized the window otherwise: stop restoring.
    void stop() { active_ = false; }
    bool active() const { return active_; }

private:
    std::optional<int> width_, height_;
    std::optional<Size> appliedFrame_;
    bool active_ = false;
};

}  // namespace kestrane::window
