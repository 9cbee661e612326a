// The line under the list that says why some of the listed class's values
// are missing ("systemd is not running: service states are unknown"). It
// lives in the status bar, apart from the list's rows, and hides itself when
// there is nothing to say.
#pragma once

#include <string>

class QStatusBar;

namespace kestrane::qt {

void ShowReasons(QStatusBar* bar, const std::string& text);

}  // namespace kestrane::qt
