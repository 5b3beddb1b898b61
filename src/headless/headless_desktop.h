// A private X11 desktop: Xvfb, a session bus, the AT-SPI bus with accessibility on, openbox,
// and the applications asked for. Used when there is no display and by every integration test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavren::headless {

struct DesktopOptions {
  int width = 1920, height = 1080;
  bool windowManager = true;  // openbox
  // The AT-SPI bus with accessibility switched on. The session bus is started either way, so
  // that no child falls back to the caller's bus or autolaunches one nobody stops.
  bool accessibility = true;
  std::vector<std::vector<std::string>> apps;  // argv of applications to start once it is up
};

// Owns the processes it starts. start() and stop() belong to one thread, and that thread must
// outlive the desktop: children are killed when the thread that started them exits.
class HeadlessDesktop {
 public:
  // Starts everything; on failure returns nullptr and sets *error to a one-line reason. Never
  // prints: the programs' output goes to log files in the runtime directory.
  static std::unique_ptr<HeadlessDesktop> start(const DesktopOptions& options, std::string* error);
  ~HeadlessDesktop();  // stop()
  HeadlessDesktop(const HeadlessDesktop&) = delete;
  HeadlessDesktop& operator=(const HeadlessDesktop&) = delete;

  const std::string& display() const { return display_; }  // ":N"
  // False once the X server has exited, whoever ended it.
  bool serverRunning() const { return xvfb_ > 0 && !exited(xvfb_); }
  // What a child needs to live on this desktop: DISPLAY, DBUS_SESSION_BUS_ADDRESS,
  // AT_SPI_BUS_ADDRESS (when known), XDG_RUNTIME_DIR, and the toolkit and accessibility
  // switches. Read-only once start() has returned, but for restartAccessibilityBus().
  const std::map<std::string, std::string>& environment() const { return environment_; }
  // This process's environment overlaid with environment(), as "K=V" strings for execve.
  // Variables that would send a program to another desktop (WAYLAND_DISPLAY, ...) are left out.
  std::vector<std::string> childEnvironment() const;

  // Starts a program on this desktop; stop() ends it and whatever it starts. -1 and *error when
  // it cannot be executed.
  pid_t launch(const std::vector<std::string>& argv, std::string* error);

  // Waits, bounded by `timeout`, until a viewable client top-level window matches: _NET_WM_PID
  // equal to `pid` when pid > 0, and `text` (when not empty) contained in its WM_CLASS or title.
  // pid 0 with empty text waits for any client window.
  bool waitForWindow(pid_t pid, const std::string& text, std::chrono::milliseconds timeout) {
    return clientWindow(pid, text, timeout).has_value();
  }
  // The same wait, giving the X id of the client window that matched. With `popups`,
  // override-redirect windows (menus, pop-ups, which no manager lists) match as well.
  std::optional<uint32_t> clientWindow(pid_t pid, const std::string& text,
                                       std::chrono::milliseconds timeout, bool popups = false);

  // Ends everything it started, by process id, and removes the runtime directory. Idempotent.
  void stop();

  // Faults a session lives through, for the tests that prove the service lives through them;
  // both belong to the thread that started the desktop, while nothing else launches on it.
  //
  // The accessibility bus crashes: its launcher, bus daemon and registry are killed at once.
  bool crashAccessibilityBus(std::string* error);
  // A new launcher brings the bus back (at the same socket, under a new GUID) with
  // accessibility on. environment() then names the new bus, so applications started
  // afterwards register there; those already running stay on the bus that is gone.
  bool restartAccessibilityBus(std::string* error);
  // The window manager hands over to a new openbox: asked to (--replace, the old one unmanages
  // every window and exits) or after it was killed (the X server puts its windows back on the
  // root). Returns once the new one has announced itself.
  enum class ManagerEnd { Replaced, Killed };
  bool replaceWindowManager(ManagerEnd how, std::string* error);
  // A desktop started without a window manager gets one late, as a session whose manager comes
  // after its programs. Returns once it has announced itself.
  bool startWindowManager(std::string* error);

 private:
  HeadlessDesktop() = default;
  bool startAll(const DesktopOptions& options, std::string* error);
  pid_t spawn(const std::string& name, const std::vector<std::string>& argv,
              const std::map<std::string, std::string>& extra, int inheritedFd, int deathSignal,
              std::string* error);
  std::string withLogTail(const std::string& reason, const std::string& name) const;
  bool exited(pid_t pid) const;
  pid_t startOpenbox(bool replacing, std::string* error);
  pid_t spawnBusLauncher(std::string* error);
  // Waits (up to `wait`) for a child to end and reaps it; stop() no longer counts it as ours.
  bool reap(pid_t pid, std::chrono::milliseconds wait);

  std::string runtimeDir_;
  std::string display_;
  pid_t xvfb_ = 0;
  pid_t launcher_ = 0;  // the AT-SPI bus launcher
  pid_t openbox_ = 0;
  std::map<std::string, std::string> environment_;
  std::vector<std::string> dropped_;
  std::string marker_;  // "K=V" carried by every child, to find their daemons at stop()
  mutable std::mutex childrenMutex_;
  std::vector<pid_t> children_;
  int appCount_ = 0;
};

}  // namespace tavren::headless
