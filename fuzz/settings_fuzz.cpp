// Settings texts are whatever the INI file holds: every text must read as a
// number in range or fall back, and what the program writes must read back.
#include <cmath>
#include <cstdint>
#include <string>

#include "core/settings.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input whole(data, size);
    std::string text(whole.rest());
    (void)kestrane::ReadInt16(text);
    (void)kestrane::ReadUInt8(text);
    float single = kestrane::ReadSingle(text);
    fuzz::Check(std::isfinite(single), "a single is finite");
    fuzz::Check(kestrane::ReadSingle(kestrane::WriteSingle(single)) == single, "a written single reads back");

    // The same bytes cut at newlines into the window's keys.
    fuzz::Input in(data, size);
    kestrane::MemorySettingsStore store;
    const char* keys[][2] = {{"Console", "State"},  {"Console", "Width"},     {"Console", "Height"},
                             {"LeftPane", "Width"}, {"RightPane", "Width"},   {"RightPane", "DataWidth"},
                             {"View", "Level"}};
    for (const auto& key : keys) store.set(key[0], key[1], std::string(in.until('\n')));
    kestrane::StartupSettings s = kestrane::ReadStartupSettings(store);
    int state = static_cast<int>(s.state);
    fuzz::Check(state >= 0 && state <= 2, "state is a window state");
    fuzz::Check(!s.width || (*s.width > 0 && *s.width <= 32767), "width in range");
    fuzz::Check(!s.height || (*s.height > 0 && *s.height <= 32767), "height in range");
    fuzz::Check(s.leftPaneWidth >= 2000 && s.leftPaneWidth <= 32767, "left pane in range");
    fuzz::Check(std::isfinite(s.rightPaneWidth) && s.rightPaneWidth >= 0, "right pane in range");
    fuzz::Check(std::isfinite(s.dataWidth) && s.dataWidth >= 0, "data width in range");
    fuzz::Check(s.level >= 1 && s.level <= 3, "level in range");
    return 0;
}
