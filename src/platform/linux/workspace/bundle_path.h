#pragma once

#include <string>
#include <string_view>

namespace tavren::workspace {

// Directories that hold the executables of many applications, so none of them is any one
// application's install directory. A home's .local/bin is matched for any user.
inline constexpr std::string_view kSharedExecutableDirs[] = {
    "/bin",         "/sbin",          "/usr/bin",        "/usr/sbin",        "/usr/games",
    "/usr/libexec", "/usr/local/bin", "/usr/local/sbin", "/usr/local/games", "/usr/local/libexec",
};
inline constexpr std::string_view kUserExecutableDir = "/.local/bin";

// The application's private install directory for an executable: the directory holding it,
// or the one above when that directory is named "bin" and holds no other program
// (`binHoldsOthers` false); empty for a shared directory, a bin directory shared by several
// programs, a path that is not absolute, or when the answer would be a shared prefix ("/",
// "/usr", "/usr/local", "/opt") or the home directory `home` (or one above it).
std::string bundlePathFor(std::string_view executablePath, std::string_view home = {},
                          bool binHoldsOthers = false);

// Whether the directory holding the executable holds another executable file as well (checked
// on disk, bounded).
bool holdsOtherExecutables(std::string_view executablePath);

}  // namespace tavren::workspace
