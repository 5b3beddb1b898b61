#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavren::workspace {

// What the workspace knows of a live process.
struct ProcessInfo {
  int32_t pid = 0;
  std::string comm;
  std::string executablePath;  // empty when unreadable
  uint64_t startTicks = 0;
};

// Nothing when the process has exited (including zombies, which only wait to be reaped).
std::optional<ProcessInfo> readProcess(int32_t pid);

// readlink /proc/PID/exe; empty when unreadable. A replaced executable reads as
// "PATH (deleted)"; the suffix is dropped unless a file of that very name exists.
std::string readExecutablePath(int32_t pid);

// Milliseconds since 1970 at which a process started startTicks after boot, given the wall
// clock time of boot in milliseconds.
int64_t launchTimeMs(uint64_t startTicks, long ticksPerSecond, int64_t bootTimeMs);

// The wall-clock time of boot, from the real-time and boot-time clocks now.
int64_t bootTimeMs();

// sysconf(_SC_CLK_TCK).
long clockTicksPerSecond();

}  // namespace tavren::workspace
