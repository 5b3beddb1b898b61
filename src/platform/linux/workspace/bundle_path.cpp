#include "platform/linux/workspace/bundle_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace tavren::workspace {

namespace {

bool isShared(std::string_view dir) {
  for (std::string_view shared : kSharedExecutableDirs) {
    if (dir == shared) return true;
  }
  return dir.ends_with(kUserExecutableDir);
}

// Prefixes that hold many applications' install directories, never one application's own.
constexpr std::string_view kSharedPrefixes[] = {"/", "/usr", "/usr/local", "/opt"};

bool isSharedPrefix(std::string_view dir, std::string_view home) {
  for (std::string_view shared : kSharedPrefixes) {
    if (dir == shared) return true;
  }
  while (home.size() > 1 && home.ends_with('/')) home.remove_suffix(1);
  // The home directory itself, or any directory above it (/home).
  return !home.empty() && home.starts_with(dir) &&
         (home.size() == dir.size() || home[dir.size()] == '/');
}

std::string_view parentOf(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

}  // namespace

std::string bundlePathFor(std::string_view executablePath, std::string_view home,
                          bool binHoldsOthers) {
  if (!executablePath.starts_with('/')) return {};
  std::string_view dir = parentOf(executablePath);
  while (dir.size() > 1 && dir.ends_with('/')) dir.remove_suffix(1);
  if (dir.empty() || isShared(dir) || isSharedPrefix(dir, home)) return {};
  if (dir.substr(dir.rfind('/') + 1) == "bin") {
    if (binHoldsOthers) return {};
    dir = parentOf(dir);
    if (isShared(dir) || isSharedPrefix(dir, home)) return {};
  }
  return std::string(dir);
}

bool holdsOtherExecutables(std::string_view executablePath) {
  namespace fs = std::filesystem;
  constexpr int kLookedAt = 4096;  // a directory this full is shared anyway
  const fs::path self(executablePath);
  std::error_code error;
  fs::directory_iterator it(self.parent_path(), error);
  if (error) return false;
  int seen = 0;
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error || ++seen > kLookedAt) return true;
    if (it->path().filename() == self.filename()) continue;
    struct stat st {};
    if (stat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111) != 0) {
      return true;
    }
  }
  return false;
}

}  // namespace tavren::workspace
