#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/json.h"
#include "platform/application_windows.h"
#include "platform/workspace.h"

namespace tavren {

// Applications' accessible windows made from the fixture; it applies un-hiding and
// un-minimizing to them and keeps a journal of those requests.
//
// Fixture member it reads (optional), keyed by pid:
//   "appWindows": {"101": {"hidden": false,
//                          "windows": [{"title", "role", "minimized", "focused",
//                                       "position": {"x", "y"}, "size": {"w", "h"},
//                                       "refusesRestore": false}]}}
// A window without "position" or "size" has none. A window that refuses restoring turns the
// un-minimize request down and stays minimized. Without the accessibility capability nothing is
// trusted and no window can be read, as on a desktop that denies access; an application that is
// no longer running has terminated and shows no windows.
class FakeAppWindows final : public ApplicationWindows {
 public:
  FakeAppWindows(Workspace& workspace, const Json& fixture, bool trusted);

  bool trusted() override { return trusted_; }
  std::vector<AppWindowRecord> windows(int32_t pid) override;
  bool isHidden(int32_t pid) override;
  bool isTerminated(int32_t pid) override;
  void unhide(int32_t pid) override;
  bool unminimize(int32_t pid, size_t index) override;

  // Changes made by tests, as a user would make them.
  void setHidden(int32_t pid, bool hidden);
  void setMinimized(int32_t pid, size_t index, bool minimized);
  // "unhide PID" and "unminimize PID INDEX", oldest first.
  std::vector<std::string> journal() const;

 private:
  struct Window {
    AppWindowRecord record;
    bool refusesRestore = false;
  };
  struct App {
    bool hidden = false;
    std::vector<Window> windows;
  };

  Workspace& workspace_;
  const bool trusted_;
  mutable std::mutex mutex_;
  std::map<int32_t, App> apps_;
  std::vector<std::string> journal_;
};

}  // namespace tavren
