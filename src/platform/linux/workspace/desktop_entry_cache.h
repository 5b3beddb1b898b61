#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/workspace/desktop_entries.h"

namespace tavren::workspace {

using DesktopEntryList = std::shared_ptr<const std::vector<DesktopEntry>>;

// The installed desktop entries, read through GIO once and read again only when an
// applications directory changed (reading them all takes tens of milliseconds).
class DesktopEntryCache {
 public:
  // The current entries, sorted by id. Callers keep the list they got as long as they like.
  DesktopEntryList entries();

 private:
  struct Stamp {
    std::string dir;
    bool exists = false;
    int64_t mtimeNs = 0;
    bool operator==(const Stamp&) const = default;
  };
  static std::vector<Stamp> stampDirectories();

  std::mutex mutex_;
  DesktopEntryList entries_;
  std::vector<Stamp> stamps_;
  // A change seen very recently may not have reached GIO's own cache yet: read once more later.
  std::chrono::steady_clock::time_point rereadAfter_{};
  bool rereadPending_ = false;
};

// Every desktop entry GIO lists (hidden ones included), sorted by id.
std::vector<DesktopEntry> loadDesktopEntries();

}  // namespace tavren::workspace
