#include "platform/linux/atspi/resolved_paths.h"

namespace tavren::atspi {

std::optional<ResolvedPath> ResolvedPaths::find(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = paths_.find(key);
  if (it == paths_.end()) return std::nullopt;
  return it->second;
}

void ResolvedPaths::remember(const std::string& key, ResolvedPath path) {
  std::lock_guard lock(mutex_);
  if (paths_.size() >= kMost && !paths_.contains(key)) paths_.clear();
  paths_.insert_or_assign(key, std::move(path));
}

std::string resolvedPathKey(int32_t pid, PathRoot root, int64_t index,
                            std::span<const int64_t> children) {
  std::string key = std::to_string(pid);
  key += root == PathRoot::Window ? 'w' : 'a';
  key += std::to_string(index);
  for (int64_t i : children) {
    key += '.';
    key += std::to_string(i);
  }
  return key;
}

}  // namespace tavren::atspi
