#include "window/geometry.h"

#include <algorithm>

namespace kestrane::window {

void SizeRestore::start(std::optional<int> outerWidth, std::optional<int> outerHeight) {
    width_ = outerWidth;
    height_ = outerHeight;
    appliedFrame_.reset();
    active_ = width_ || height_;
}

std::optional<Size> SizeRestore::adjust(Size inner, Size outer) {
    if (!active_) return std::nullopt;
    const Size frame{outer.width - inner.width, outer.height - inner.height};
    if (appliedFrame_ && *appliedFrame_ == frame) return std::nullopt;
    const bool frameKnown = frame.width > 0 || frame.height > 0;
    appliedFrame_ = frame;
    // With the real frame applied there is nothing left to correct.
    if (frameKnown) active_ = false;
    Size want{width_ ? std::max(*width_ - frame.width, 1) : inner.width,
              height_ ? std::max(*height_ - frame.height, 1) : inner.height};
    if (want == inner) return std::nullopt;
    return want;
}

}  // namespace kestrane::window
