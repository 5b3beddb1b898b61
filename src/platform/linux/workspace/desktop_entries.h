#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tavren::workspace {

// What matching needs of one installed desktop entry.
struct DesktopEntry {
  std::string id;              // the desktop file id without ".desktop"
  std::string name;            // Name, localized
  std::string startupWmClass;  // StartupWMClass, or empty
  std::string execName;        // base name of the program Exec runs
  std::string execTarget;      // base name of that program found on PATH, symlinks resolved
  bool terminal = false;       // runs inside a terminal emulator, which owns the windows
};

// What a running process tells about which application it is.
struct AppClues {
  std::string gtkApplicationId;  // _GTK_APPLICATION_ID of its windows
  std::string wmInstance;        // WM_CLASS instance name
  std::string wmClass;           // WM_CLASS class name
  std::string executablePath;
};

// The entry of this application: the one whose id is its GTK application id, else the one
// whose StartupWMClass equals its WM_CLASS class or instance (ignoring ASCII case), else the
// one whose Exec program has the executable's base name. Entries run in a terminal never match
// by program: their windows belong to the terminal. Ties go to the earlier entry, so entries
// should come sorted. Null when none matches.
const DesktopEntry* matchDesktopEntry(std::span<const DesktopEntry> entries, const AppClues& clues);

}  // namespace tavren::workspace
