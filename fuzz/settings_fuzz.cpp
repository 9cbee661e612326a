// Settings texts are whatever the INI file holds (edited by hand, copied
// between versions, cut by a crash): every text must read as a number in
// range or fall back, cost only its own setting, and what the program writes
// must read back.
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

    // What is written after such a start reads back unchanged.
    kestrane::ShutdownValues v;
    v.state = s.state;
    v.width = s.width.value_or(9600);
    v.height = s.height.value_or(7200);
    v.leftPaneWidth = s.leftPaneWidth;
    v.rightPaneWidth = s.rightPaneWidth;
    v.dataWidth = s.dataWidth;
    kestrane::WriteShutdownSettings(store, v);
    kestrane::WriteLevel(store, s.level);
    const kestrane::StartupSettings again = kestrane::ReadStartupSettings(store);
    fuzz::Check(again.state == s.state && again.leftPaneWidth == s.leftPaneWidth &&
                    again.rightPaneWidth == s.rightPaneWidth && again.dataWidth == s.dataWidth &&
                    again.level == s.level,
                "written settings read back");
    fuzz::Check(s.state != kestrane::WindowState::Normal ||
                    (again.width == static_cast<int>(v.width) && again.height == static_cast<int>(v.height)),
                "a written size reads back");

    // The whole input in one key among good ones costs only that setting (the
    // state decides whether a size is read at all).
    for (int k = 0; k < 7; ++k) {
        kestrane::MemorySettingsStore one;
        const char* good[] = {"0", "9600", "7200", "4100", "5535.5", "2500", "2"};
        for (int i = 0; i < 7; ++i) one.set(keys[i][0], keys[i][1], i == k ? text : good[i]);
        const kestrane::StartupSettings t = kestrane::ReadStartupSettings(one);
        fuzz::Check((k <= 1 || t.width == 9600) && ((k == 0 || k == 2) || t.height == 7200) &&
                        (k == 3 || t.leftPaneWidth == 4100) && (k == 4 || t.rightPaneWidth == 5535.5f) &&
                        (k == 5 || t.dataWidth == 2500) && (k == 6 || t.level == 2),
                    "one bad text costs only its own setting");
    }
    return 0;
}
