// The line under the list that says why some of the listed class's values
// are missing ("systemd is not running: service states are unknown"). It
// lives in the status bar, apart from the list's rows, and hides itself when
// there is nothing to say.
#pragma once

#include <string>
#include <vector>

class QStatusBar;

namespace kestrane::app {

void ShowReasons(QStatusBar* bar, const std::vector<std::string>& reasons);

// The text shown for reasons: each one, separated by "; ".
std::string ReasonsText(const std::vector<std::string>& reasons);

}  // namespace kestrane::app
