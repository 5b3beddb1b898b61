#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/json.h"
#include "platform/fake/fake_accessibility.h"
#include "platform/fake/fake_app_watcher.h"
#include "platform/fake/fake_app_windows.h"
#include "platform/fake/fake_capture.h"
#include "platform/fake/fake_focus.h"
#include "platform/fake/fake_event_poster.h"
#include "platform/fake/fake_input_monitor.h"
#include "platform/fake/fake_pasteboard.h"
#include "platform/platform.h"

namespace tavren {

// A desktop kept in memory, seeded from a JSON fixture. It applies what is done to it and keeps
// a journal of it, so that tests assert on outcomes rather than on calls.
//
// Fixture shape (every member optional):
//   "capabilities": {"display": true, ...}           names as in capabilityList()
//   "apps": [{"pid", "bundleId", "name", "bundlePath", "executablePath", "regular",
//             "launchTimeMs"}]                        in launch order
//   "windows": [{"number", "ownerPid", "ownerName", "title", "bounds": {"x","y","w","h"},
//               "layer", "onScreen"}]                 front to back
//   "accessibility": kept as given for the subsystems that read it
//   "clipboard": the general pasteboard, see FakePasteboard
//   "delaysMs": {"runningApplications": 2000}        makes an operation slow, for timing tests
//   "failures": ["runningApplications", ...]        makes an operation throw, as a bug would
//   window "pixels" and "captureError", "delaysMs.windowPixels": see FakeCapture
//   "appWindows": applications' accessible windows, see FakeAppWindows
//   "accessibility": applications' accessibility trees, see FakeAccessibility
//   "focus": the active window and the pointer, see FakeFocus
class FakeDesktop final : public Platform, public Workspace, public WindowServer {
 public:
  explicit FakeDesktop(const Json& fixture);
  static std::unique_ptr<FakeDesktop> fromFile(const std::string& path);

  // Platform
  const Capabilities& capabilities() const override { return capabilities_; }
  Workspace& workspace() override { return *this; }
  WindowServer& windowServer() override { return *this; }
  Capture& capture() override { return capture_; }
  FakeCapture& fakeCapture() { return capture_; }
  Pasteboard& pasteboard() override { return pasteboard_; }
  FakePasteboard& fakePasteboard() { return pasteboard_; }
  ApplicationWindows& applicationWindows() override { return appWindows_; }
  FakeAppWindows& fakeAppWindows() { return appWindows_; }
  Accessibility& accessibility() override { return axTrees_; }
  FakeAccessibility& fakeAccessibility() { return axTrees_; }
  Focus& focus() override { return focus_; }
  FakeFocus& fakeFocus() { return focus_; }
  EventPoster& eventPoster() override { return eventPoster_; }
  FakeEventPoster& fakeEventPoster() { return eventPoster_; }
  AppWatcher& appWatcher() override { return appWatcher_; }
  FakeAppWatcher& fakeAppWatcher() { return appWatcher_; }
  InputMonitor& inputMonitor() override { return inputMonitor_; }
  FakeInputMonitor& fakeInputMonitor() { return inputMonitor_; }

  // Workspace
  std::vector<AppInfo> runningApplications() override;
  std::optional<AppInfo> application(int32_t pid) override;
  std::string executablePath(int32_t pid) override;

  // WindowServer
  std::vector<WindowInfo> windows() override;
  std::optional<WindowInfo> window(uint32_t number) override;

  // Changes made by tests, as the real desktop would change under the service.
  void launch(const AppInfo& app);
  void quit(int32_t pid);  // the app and its windows go away
  void setBounds(uint32_t window, Rect bounds);
  void closeWindow(uint32_t window);
  void setDelay(const std::string& operation, std::chrono::milliseconds delay);

  // What was done to the desktop, one line per change, oldest first.
  std::vector<std::string> journal() const;
  const Json& accessibilityFixture() const { return accessibility_; }
  const Json& clipboardFixture() const { return clipboard_; }

 private:
  void delay(const std::string& operation) const;
  void record(std::string entry);

  Capabilities capabilities_;
  mutable std::mutex mutex_;
  std::vector<AppInfo> apps_;
  std::vector<WindowInfo> windows_;
  std::map<std::string, std::chrono::milliseconds> delays_;
  std::set<std::string> failures_;
  std::vector<std::string> journal_;
  Json accessibility_;
  Json clipboard_;
  FakeAppWindows appWindows_;
  FakeEventPoster eventPoster_;
  FakeInputMonitor inputMonitor_;
  FakeAccessibility axTrees_;
  FakeFocus focus_;
  FakePasteboard pasteboard_;
  FakeAppWatcher appWatcher_{*this};
  FakeCapture capture_;  // last: its capture threads end before the desktop they read
};

}  // namespace tavren
