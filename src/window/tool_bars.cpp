#include "window/tool_bars.h"

namespace kestrane::window {

namespace {

constexpr ToolButton kMain[] = {
    {"System Summary", "Crest"}, {"Connect To...", "Connect"}, {"Refresh", "Refresh"},
    {"Exit", "Exit"},            {"About", "About"},
};
constexpr ToolButton kSub1[] = {
    {"Cooling Device", "Device"}, {"Input Device", "Input"}, {"Mass Storage", "MassStorage"},
    {"Motherboard, Controller & Port", "MotherBoard"}, {"Networking Device", "Adapter"},
    {"Power", "Power"}, {"Printing", "Printer"}, {"Telephony", "Telephone"},
    {"Video & Monitor", "Display"},
};
constexpr ToolButton kSub2[] = {
    {"COM", "COM"}, {"Desktop", "Desktop"}, {"Drivers", "Driver"}, {"File System", "File"},
    {"Memory & Page Files", "Files"}, {"Multimedia Audio / Visual", "Codec"},
    {"Networking", "Network"}, {"Operating System Settings", "Settings"},
    {"Processes", "Process"}, {"Registry", "Registry"}, {"Scheduler Jobs", "Scheduler"},
    {"Services", "Service"}, {"Shares", "Share"}, {"Start Menu", "StartMenu"}, {"Users", "Users"},
    {"Windows NT Event Log", "EventLog"}, {"Windows Product Activation", "Windows"},
};

}  // namespace

std::span<const ToolButton> MainToolButtons() { return kMain; }

std::span<const ToolButton> CategoryButtons(int bar) {
    if (bar == 1) return kSub1;
    if (bar == 2) return kSub2;
    return {};
}

}  // namespace kestrane::window
