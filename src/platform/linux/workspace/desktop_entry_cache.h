#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/workspace/desktop_entries.h"

namespace tavren::workspace {

using DesktopEntryList = std::shared_ptr<const std::vector<DesktopEntry>>;

// The applications directories in the order they take precedence: the user's, then the
// system's.
std::vector<std::string> applicationDirectories();

// The installed desktop entries, read once and read again only after something changed in an
// applications directory (a file edited in place, added, removed or renamed, or a directory
// appearing or going), which an inotify descriptor reports. The descriptor is drained on each
// call, so a change completed before a request is seen by that request.
class DesktopEntryCache {
 public:
  // The applications directories to read, in the order they take precedence.
  explicit DesktopEntryCache(std::vector<std::string> dirs = applicationDirectories())
      : dirs_(std::move(dirs)) {}
  ~DesktopEntryCache();
  DesktopEntryCache(const DesktopEntryCache&) = delete;
  DesktopEntryCache& operator=(const DesktopEntryCache&) = delete;

  // The current entries, sorted by id. Callers keep the list they got as long as they like.
  DesktopEntryList entries();

 private:
  bool changedSinceLoad();
  void load();

  const std::vector<std::string> dirs_;
  std::mutex mutex_;
  DesktopEntryList entries_;
  std::vector<std::string> existingDirs_;  // the applications directories found at the load
  int watch_ = -1;                         // inotify descriptor watching them
};

// Every application desktop entry under these directories (NoDisplay ones included; Hidden ones
// are deleted entries), sorted by id. A file's id is its path below the directory with '/'
// turned into '-'; an id found in an earlier directory masks the later ones. Every directory
// read, subdirectories included, is passed to `visited` before its files are read.
std::vector<DesktopEntry> loadDesktopEntries(
    const std::vector<std::string>& dirs,
    const std::function<void(const std::string&)>& visited = {});

}  // namespace tavren::workspace
