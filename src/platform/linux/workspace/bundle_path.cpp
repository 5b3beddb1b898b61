#include "platform/linux/workspace/bundle_path.h"

namespace tavren::workspace {

namespace {

bool isShared(std::string_view dir) {
  for (std::string_view shared : kSharedExecutableDirs) {
    if (dir == shared) return true;
  }
  return dir.ends_with(kUserExecutableDir);
}

std::string_view parentOf(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

}  // namespace

std::string bundlePathFor(std::string_view executablePath) {
  if (!executablePath.starts_with('/')) return {};
  std::string_view dir = parentOf(executablePath);
  while (dir.size() > 1 && dir.ends_with('/')) dir.remove_suffix(1);
  if (dir.empty() || dir == "/" || isShared(dir)) return {};
  if (dir.substr(dir.rfind('/') + 1) == "bin") {
    dir = parentOf(dir);
    if (dir == "/" || isShared(dir)) return {};
  }
  return std::string(dir);
}

}  // namespace tavren::workspace
