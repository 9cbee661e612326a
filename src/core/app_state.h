// The program-wide state every part of the window shares, passed by reference.
#pragma once

#include <cstdint>
#include <string>

namespace kestrane {

struct AppState {
    // The connection strings; an empty or "." computer is the local computer.
    std::string gstrComputer;
    std::string gstrUserName;
    std::string gstrPassword;
    // Detail level: 1 Medium, 2 Advanced, 3 Very Advanced (cumulative).
    std::uint8_t gbytLevel = 1;
    // Listing orientation: false is one row per property, true one row per
    // instance. Never stored.
    bool gblnHorizontal = false;
    // Set by the Cancel button, cleared by every selection.
    bool gblnCancel = false;
};

}  // namespace kestrane
