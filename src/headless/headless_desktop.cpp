#include "headless/headless_desktop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "headless/a11y_bus.h"
#include "headless/child_process.h"
#include "headless/desktop_environment.h"
#include "headless/process_tree.h"
#include "headless/x11_waits.h"
#include "process/child_spawn.h"

namespace tavren::headless {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

constexpr const char* kMarkerKey = "TAVREN_DESKTOP_SESSION";

// Window management and nothing else: no key bindings that would swallow keys sent to
// applications, no menus, one desktop, click to focus, and no minimize animation (while it runs,
// openbox slides the frame far off its place, so a window just restored reads as elsewhere).
// Click to focus is bound in the Client context, which openbox grabs synchronously and replays
// to the application; a binding without modifiers in the Frame context would be an asynchronous
// grab on the whole frame, and the application would never see that button.
constexpr const char* kOpenboxConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><animateIconify>no</animateIconify></theme>
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy><center>yes</center></placement>
  <desktops><number>1</number><popupTime>0</popupTime></desktops>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <keyboard></keyboard>
  <mouse>
    <context name="Client Titlebar">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
    <context name="Titlebar"><mousebind button="Left" action="Drag"><action name="Move"/></mousebind></context>
    <context name="Close"><mousebind button="Left" action="Click"><action name="Close"/></mousebind></context>
    <context name="Maximize"><mousebind button="Left" action="Click"><action name="ToggleMaximize"/></mousebind></context>
    <context name="Iconify"><mousebind button="Left" action="Click"><action name="Iconify"/></mousebind></context>
  </mouse>
</openbox_config>
)";

// Where Debian, Fedora and older Ubuntu install the AT-SPI bus launcher.
std::string busLauncherPath() {
  for (const char* path :
       {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "at-spi-bus-launcher";
}

// The a11y bus socket goes in here and a unix socket path is limited to 107 bytes, so a long
// TMPDIR is not used.
std::string makeRuntimeDir(std::string* error) {
  const char* tmp = getenv("TMPDIR");
  std::string base = (tmp != nullptr && tmp[0] == '/' && strlen(tmp) < 48) ? tmp : "/tmp";
  std::string path = base + "/tavren-desktop-XXXXXX";
  if (mkdtemp(path.data()) == nullptr || chmod(path.c_str(), 0700) != 0 ||
      mkdir((path + "/log").c_str(), 0700) != 0) {
    *error = "cannot create a runtime directory in " + base + ": " + strerror(errno);
    return {};
  }
  return path;
}

// One line written by a child to a pipe, up to the newline. False when the child closed the
// pipe (it exited) or the deadline passed; *timedOut tells which.
bool readLineFrom(int fd, Deadline deadline, std::string* line, bool* timedOut) {
  line->clear();
  *timedOut = false;
  for (;;) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) {
      *timedOut = true;
      return false;
    }
    pollfd pfd = {fd, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buf[256];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    line->append(buf, static_cast<size_t>(n));
    size_t newline = line->find('\n');
    if (newline != std::string::npos) {
      line->resize(newline);
      return true;
    }
  }
}

bool writeFile(const std::string& path, const char* text) {
  std::ofstream out(path, std::ios::trunc);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

std::unique_ptr<HeadlessDesktop> HeadlessDesktop::start(const DesktopOptions& options,
                                                        std::string* error) {
  std::unique_ptr<HeadlessDesktop> desktop(new HeadlessDesktop());
  if (!desktop->startAll(options, error)) {
    desktop->stop();
    return nullptr;
  }
  return desktop;
}

HeadlessDesktop::~HeadlessDesktop() {
  stop();
}

bool HeadlessDesktop::startAll(const DesktopOptions& options, std::string* error) {
  if (options.width < 1 || options.height < 1 || options.width > 32767 || options.height > 32767) {
    *error = "invalid screen size " + std::to_string(options.width) + "x" +
             std::to_string(options.height);
    return false;
  }
  runtimeDir_ = makeRuntimeDir(error);
  if (runtimeDir_.empty()) return false;
  marker_ = std::string(kMarkerKey) + "=" + runtimeDir_;
  dropped_ = variablesToDrop(options.accessibility);
  DesktopAddresses addresses;
  addresses.runtimeDir = runtimeDir_;
  addresses.accessibility = options.accessibility;
  std::string line;
  bool timedOut = false;

  // Xvfb picks a free display number itself and reports it, so parallel desktops never race
  // for one; it writes the number once it accepts connections. -noreset: by default the server
  // resets when its last client leaves, which the readiness probe below is, and a program
  // connecting during that reset fails (openbox did, one start in three).
  int pipe[2];
  if (!makePipe(pipe)) {
    *error = std::string("cannot create a pipe: ") + strerror(errno);
    return false;
  }
  std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  pid_t xvfb =
      spawn("xvfb",
            {"Xvfb", "-displayfd", std::to_string(pipe[1]), "-screen", "0", screen, "-dpi", "96",
             "+extension", "Composite", "+extension", "RECORD", "+extension", "RANDR", "-nolisten",
             "tcp", "-noreset"},
            {}, pipe[1], SIGTERM, error);
  close(pipe[1]);
  bool reported =
      xvfb > 0 && readLineFrom(pipe[0], steady_clock::now() + seconds(10), &line, &timedOut);
  close(pipe[0]);
  if (xvfb <= 0) return false;
  if (!reported || line.empty() || line.find_first_not_of("0123456789") != std::string::npos) {
    *error = withLogTail(timedOut ? "Xvfb reported no display within 10 s"
                                  : "Xvfb exited before reporting a display",
                         "xvfb");
    return false;
  }
  display_ = ":" + line;
  xvfb_ = xvfb;
  addresses.display = display_;
  if (!waitForXServer(
          display_, steady_clock::now() + seconds(5), [&] { return exited(xvfb); }, error)) {
    *error = withLogTail(*error, "xvfb");
    return false;
  }
  environment_ = desktopVariables(addresses);

  // The bus socket lives in the runtime directory, which stop() removes, rather than in /tmp.
  if (!makePipe(pipe)) {
    *error = std::string("cannot create a pipe: ") + strerror(errno);
    return false;
  }
  pid_t bus = spawn(
      "dbus",
      {"dbus-daemon", "--session", "--nofork", "--nosyslog",
       "--print-address=" + std::to_string(pipe[1]), "--address=unix:path=" + runtimeDir_ + "/bus"},
      {}, pipe[1], SIGTERM, error);
  close(pipe[1]);
  reported = bus > 0 && readLineFrom(pipe[0], steady_clock::now() + seconds(5), &line, &timedOut);
  close(pipe[0]);
  if (bus <= 0) return false;
  if (!reported || line.empty()) {
    *error = withLogTail("the session bus reported no address", "dbus");
    return false;
  }
  addresses.sessionBus = line;
  environment_ = desktopVariables(addresses);

  // The launcher and openbox start side by side; each only needs the display and the bus.
  // The desktop's own programs get SIGTERM, not SIGKILL, if the caller dies: they all clean up
  // on it, and the launcher ends its accessibility bus, which would otherwise outlive us.
  pid_t launcher = 0;
  if (options.accessibility) {
    launcher = spawnBusLauncher(error);
    if (launcher <= 0) return false;
    launcher_ = launcher;
  }
  pid_t openbox = 0;
  if (options.windowManager) {
    openbox = startOpenbox(false, error);
    if (openbox <= 0) return false;
  }
  if (options.accessibility) {
    if (!enableAccessibility(
            addresses.sessionBus, steady_clock::now() + seconds(5),
            [&] { return exited(launcher); }, &addresses.a11yBus, error)) {
      *error = withLogTail(*error, "at-spi");
      return false;
    }
    environment_ = desktopVariables(addresses);
  }
  if (options.windowManager &&
      !waitForWindowManager(
          display_, steady_clock::now() + seconds(5), [&] { return exited(openbox); }, error)) {
    *error = withLogTail(*error, "openbox");
    return false;
  }

  for (const std::vector<std::string>& app : options.apps) {
    if (launch(app, error) <= 0) return false;
  }
  return true;
}

std::vector<std::string> HeadlessDesktop::childEnvironment() const {
  return overlayEnvironment(processEnvironment(), environment_, dropped_);
}

pid_t HeadlessDesktop::spawnBusLauncher(std::string* error) {
  // With the dconf backend, switching accessibility on would be written to the user's own
  // settings database; this desktop's settings live and die with it.
  return spawn("at-spi", {busLauncherPath(), "--launch-immediately"},
               {{"GSETTINGS_BACKEND", "memory"}}, -1, SIGTERM, error);
}

pid_t HeadlessDesktop::startOpenbox(bool replacing, std::string* error) {
  std::string config = runtimeDir_ + "/openbox-rc.xml";
  if (!replacing && !writeFile(config, kOpenboxConfig)) {
    *error = "cannot write " + config;
    return -1;
  }
  // Its log goes to XDG_CACHE_HOME: keep it out of the user's home. openbox reopens its input
  // method on every keyboard mapping change, which in a UTF-8 locale parses the whole compose
  // table (2 to 15 ms); typing text the keymap lacks changes the mapping hundreds of times, and
  // openbox then fell up to 30 s behind in managing new windows. It shows no text here, so the
  // C locale costs nothing.
  std::vector<std::string> argv = {"openbox", "--sm-disable", "--config-file", config};
  if (replacing) argv.push_back("--replace");
  pid_t pid = spawn("openbox", argv,
                    {{"XDG_CACHE_HOME", runtimeDir_ + "/cache"}, {"LC_ALL", "C"}}, -1, SIGTERM,
                    error);
  if (pid > 0) openbox_ = pid;
  return pid;
}

bool HeadlessDesktop::reap(pid_t pid, milliseconds wait) {
  const auto deadline = steady_clock::now() + wait;
  while (!exited(pid)) {
    if (steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  pid_t r;
  do {
    r = waitpid(pid, nullptr, 0);
  } while (r < 0 && errno == EINTR);
  std::lock_guard<std::mutex> lock(childrenMutex_);
  std::erase(children_, pid);
  return true;
}

bool HeadlessDesktop::crashAccessibilityBus(std::string* error) {
  if (launcher_ <= 0 || runtimeDir_.empty()) {
    *error = "this desktop has no accessibility bus";
    return false;
  }
  // As a crash: the launcher, the bus daemon it runs and the registry the bus activated all
  // end at once, nothing closed cleanly. The registry is double-forked away from the launcher
  // and is known by its name and this desktop's marker.
  Ownership owner;
  owner.roots = {launcher_};
  owner.groups = {launcher_};
  owner.self = getpid();
  owner.selfGroup = getpgrp();
  owner.carriesMarker = [this](const ProcStat& e) {
    return e.comm == "at-spi2-registr" && environmentContains(e.pid, marker_).value_or(false);
  };
  const auto deadline = steady_clock::now() + seconds(2);
  for (;;) {
    std::vector<pid_t> alive = selectOwnedProcesses(readProcessTable(), owner);
    if (alive.empty()) break;
    for (pid_t pid : alive) kill(pid, SIGKILL);
    if (steady_clock::now() >= deadline) {
      *error = "the accessibility bus did not end";
      return false;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  reap(launcher_, seconds(1));
  launcher_ = 0;
  return true;
}

bool HeadlessDesktop::restartAccessibilityBus(std::string* error) {
  if (!environment_.contains("AT_SPI_BUS_ADDRESS") || runtimeDir_.empty()) {
    *error = "this desktop has no accessibility bus";
    return false;
  }
  if (launcher_ > 0 && !crashAccessibilityBus(error)) return false;
  // The bus daemon passes the launcher's environment on to the registry it starts, which would
  // take the old bus's address from it.
  environment_.erase("AT_SPI_BUS_ADDRESS");
  launcher_ = spawnBusLauncher(error);
  if (launcher_ <= 0) return false;
  const pid_t launcher = launcher_;
  std::string address;
  if (!enableAccessibility(
          environment_.at("DBUS_SESSION_BUS_ADDRESS"), steady_clock::now() + seconds(5),
          [&] { return exited(launcher); }, &address, error)) {
    *error = withLogTail(*error, "at-spi");
    return false;
  }
  environment_["AT_SPI_BUS_ADDRESS"] = address;
  return true;
}

bool HeadlessDesktop::replaceWindowManager(ManagerEnd how, std::string* error) {
  const pid_t old = openbox_;
  if (old <= 0 || runtimeDir_.empty()) {
    *error = "this desktop has no window manager";
    return false;
  }
  if (how == ManagerEnd::Killed) {
    kill(old, SIGKILL);
    reap(old, seconds(2));
  }
  const pid_t openbox = startOpenbox(how == ManagerEnd::Replaced, error);
  if (openbox <= 0) return false;
  // The old manager gives the screen up once the new one asks for it, and only then does the
  // new one announce itself.
  if (how == ManagerEnd::Replaced && !reap(old, seconds(5))) {
    *error = "the old window manager did not give way";
    return false;
  }
  if (!waitForWindowManager(
          display_, steady_clock::now() + seconds(5), [&] { return exited(openbox); }, error)) {
    *error = withLogTail(*error, "openbox");
    return false;
  }
  return true;
}

bool HeadlessDesktop::startWindowManager(std::string* error) {
  if (openbox_ > 0 || runtimeDir_.empty()) {
    *error = "this desktop has a window manager already, or is stopped";
    return false;
  }
  const pid_t openbox = startOpenbox(false, error);
  if (openbox <= 0) return false;
  if (!waitForWindowManager(
          display_, steady_clock::now() + seconds(5), [&] { return exited(openbox); }, error)) {
    *error = withLogTail(*error, "openbox");
    return false;
  }
  return true;
}

pid_t HeadlessDesktop::launch(const std::vector<std::string>& argv, std::string* error) {
  if (runtimeDir_.empty()) {
    *error = "the desktop is stopped";
    return -1;
  }
  if (argv.empty()) {
    *error = "empty command line";
    return -1;
  }
  int number;
  {
    std::lock_guard<std::mutex> lock(childrenMutex_);
    number = ++appCount_;
  }
  const std::string program = std::filesystem::path(argv[0]).filename().string();
  return spawn("app" + std::to_string(number) + "-" + program, argv, {}, -1, SIGKILL,
               error);
}

std::optional<uint32_t> HeadlessDesktop::clientWindow(pid_t pid, const std::string& text,
                                                      milliseconds timeout, bool popups) {
  if (display_.empty() || runtimeDir_.empty()) return std::nullopt;
  return waitForClientWindow(display_, pid, text, popups, steady_clock::now() + timeout);
}

void HeadlessDesktop::stop() {
  std::vector<pid_t> children;
  {
    std::lock_guard<std::mutex> lock(childrenMutex_);
    children.swap(children_);
  }
  if (!children.empty()) endProcessTree(children, marker_, seconds(2));
  if (!runtimeDir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(runtimeDir_, ignored);
    runtimeDir_.clear();
  }
}

pid_t HeadlessDesktop::spawn(const std::string& name, const std::vector<std::string>& argv,
                             const std::map<std::string, std::string>& extra, int inheritedFd,
                             int deathSignal, std::string* error) {
  std::map<std::string, std::string> overlay = environment_;
  for (const auto& [key, value] : extra) overlay[key] = value;
  // Carried into every descendant, including the daemons D-Bus activates, which are orphaned
  // and would otherwise outlive the desktop.
  overlay[kMarkerKey] = runtimeDir_;
  SpawnRequest request;
  request.argv = argv;
  request.environment = overlayEnvironment(processEnvironment(), overlay, dropped_);
  request.logPath = runtimeDir_ + "/log/" + name + ".log";
  request.inheritedFd = inheritedFd;
  request.deathSignal = deathSignal;
  pid_t pid = spawnChild(request, error);
  if (pid > 0) {
    std::lock_guard<std::mutex> lock(childrenMutex_);
    children_.push_back(pid);
  }
  return pid;
}

std::string HeadlessDesktop::withLogTail(const std::string& reason, const std::string& name) const {
  std::ifstream log(runtimeDir_ + "/log/" + name + ".log");
  std::string line, last;
  while (std::getline(log, line)) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  if (last.empty()) return reason;
  if (last.size() > 200) last = last.substr(0, 200) + "...";
  return reason + " (" + name + ": " + last + ")";
}

// Without reaping: the pid must stay ours until stop() has ended its group.
bool HeadlessDesktop::exited(pid_t pid) const {
  siginfo_t info = {};
  if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return true;
  }
  return info.si_pid != 0;
}

}  // namespace tavren::headless
