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
// or the one above when that directory is named "bin"; empty for a shared directory or a path
// that is not absolute.
std::string bundlePathFor(std::string_view executablePath);

}  // namespace tavren::workspace
