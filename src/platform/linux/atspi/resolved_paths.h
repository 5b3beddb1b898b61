#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/accessibility.h"
#include "platform/linux/atspi/accessible_reads.h"

namespace tavren::atspi {

// Where an element path led when it was last resolved: the application's children then, and
// the accessibles from the path's first one down to the element. A later resolution checks this
// chain in one batch (every step of the walk asked at once) instead of walking it step by step.
struct ResolvedPath {
  std::string busName;
  std::vector<AccessibleRef> roots;  // the application's children
  std::vector<AccessibleRef> chain;  // chain[0]: the path's window or child; chain[k]: step k
  ToolkitTraits traits;
};

// The paths resolved lately, shared by the requests of every thread. Bounded: when full it
// starts over.
class ResolvedPaths {
 public:
  std::optional<ResolvedPath> find(const std::string& key) const;
  void remember(const std::string& key, ResolvedPath path);

 private:
  static constexpr size_t kMost = 1024;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, ResolvedPath> paths_;
};

// The key a path is remembered under: the process, its root kind, its indexes.
std::string resolvedPathKey(int32_t pid, PathRoot root, int64_t index,
                            std::span<const int64_t> children);

}  // namespace tavren::atspi
