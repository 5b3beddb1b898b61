#include "platform/linux/workspace/linux_workspace.h"

#include <glib.h>

#include <algorithm>
#include <map>

#include "platform/linux/atspi/registered_apps.h"
#include "platform/linux/workspace/app_identity.h"
#include "platform/linux/workspace/bundle_path.h"
#include "platform/linux/workspace/process_info.h"
#include "platform/linux/x11/window_list.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::workspace {

namespace {

struct Candidate {
  ProcessInfo process;
  WindowClues windows;
  const atspi::RegisteredApp* registered = nullptr;
  std::string atspiName;
};

AppInfo appInfoOf(const Candidate& c, std::span<const DesktopEntry> entries, int64_t bootMs) {
  AppIdentity identity =
      identifyApp(c.windows, c.process.executablePath, c.atspiName, c.process.comm, entries);
  AppInfo info;
  info.pid = c.process.pid;
  info.bundleId = std::move(identity.bundleId);
  info.name = std::move(identity.name);
  info.executablePath = c.process.executablePath;
  const char* home = g_get_home_dir();
  info.bundlePath = bundlePathFor(c.process.executablePath, home ? home : "",
                                  holdsOtherExecutables(c.process.executablePath));
  info.regular = c.windows.ownsNormalClient;
  info.launchTimeMs = launchTimeMs(c.process.startTicks, clockTicksPerSecond(), bootMs);
  return info;
}

bool launchedBefore(const Candidate& a, const Candidate& b) {
  if (a.process.startTicks != b.process.startTicks) {
    return a.process.startTicks < b.process.startTicks;
  }
  return a.process.pid < b.process.pid;
}

bool hasEntry(std::span<const DesktopEntry> entries, const WindowClues& w,
              const std::string& executable) {
  return matchDesktopEntry(entries, {w.gtkApplicationId, w.wmInstance, w.wmClass, executable});
}

// Applications without a desktop entry are named by their accessible root, learnt once per
// process.
void nameFromAccessibility(GDBusConnection* bus, bool registryAnswered,
                           std::vector<Candidate>& alive, std::span<const DesktopEntry> entries,
                           AtspiNameMemo& memo) {
  std::vector<NameQuery> queries;
  for (const Candidate& c : alive) {
    if (hasEntry(entries, c.windows, c.process.executablePath)) continue;
    queries.push_back({c.process.pid, c.process.startTicks, c.registered});
  }
  learnAccessibilityNames(bus, queries, registryAnswered, memo);
  for (Candidate& c : alive) {
    c.atspiName = memo.find(c.process.pid, c.process.startTicks).value_or(std::string());
  }
}

}  // namespace

LinuxWorkspace::LinuxWorkspace(const x11::XConnection* x, AppNaming& naming)
    : x_(x), naming_(naming) {}

std::vector<AppInfo> LinuxWorkspace::collect(std::optional<int32_t> onlyPid,
                                             const std::vector<x11::ListedWindow>* listed) {
  auto wanted = [&](int32_t pid) { return pid > 0 && (!onlyPid || *onlyPid == pid); };
  std::vector<x11::ListedWindow> read;
  if (!listed && x_) read = x11::listWindows(*x_);
  std::map<int32_t, WindowClues> clues = windowCluesByPid(listed ? *listed : read);
  std::map<int32_t, Candidate> candidates;
  for (const auto& [pid, windowClues] : clues) {
    if (windowClues.ownsClient && wanted(pid)) candidates[pid].windows = windowClues;
  }
  DesktopEntryList entries;  // read only once there is an application to name
  auto entryList = [&]() -> std::span<const DesktopEntry> {
    if (!entries) entries = naming_.entries();
    return *entries;
  };

  // The registry is needed for applications without windows and for the names of those
  // without a desktop entry not learnt yet: one window owner with an entry, or with its name
  // learnt, needs nothing from it.
  auto namedWithoutRegistry = [&](int32_t pid, const WindowClues& windows) {
    const std::optional<ProcessInfo> process = readProcess(pid);
    if (!process) return true;  // gone: there is nothing to name
    return hasEntry(entryList(), windows, process->executablePath) ||
           naming_.memo().find(pid, process->startTicks).has_value();
  };
  bool askRegistry = !onlyPid || candidates.empty() ||
                     !namedWithoutRegistry(*onlyPid, candidates.begin()->second.windows);
  std::vector<atspi::RegisteredApp> registered;
  atspi::ObjectRef<GDBusConnection> bus = askRegistry ? naming_.bus().connection() : nullptr;
  bool registryAnswered = false;
  if (bus) registered = atspi::registeredApps(bus.get(), &registryAnswered);
  for (const atspi::RegisteredApp& app : registered) {
    if (!wanted(app.pid)) continue;
    Candidate& c = candidates[app.pid];
    if (!c.registered) c.registered = &app;
    if (auto it = clues.find(app.pid); it != clues.end() && !c.windows.ownsClient) {
      c.windows = it->second;  // only pop-ups of its own
    }
  }

  std::vector<Candidate> alive;
  for (auto& [pid, c] : candidates) {
    std::optional<ProcessInfo> process = readProcess(pid);
    if (!process) continue;
    c.process = std::move(*process);
    alive.push_back(std::move(c));
  }
  if (alive.empty()) return {};
  nameFromAccessibility(bus.get(), registryAnswered, alive, entryList(), naming_.memo());
  if (!onlyPid) {
    std::vector<std::pair<int32_t, uint64_t>> live;
    for (const Candidate& c : alive) live.emplace_back(c.process.pid, c.process.startTicks);
    naming_.memo().keepOnly(live);
  }

  std::sort(alive.begin(), alive.end(), launchedBefore);
  int64_t bootMs = bootTimeMs();
  std::vector<AppInfo> apps;
  apps.reserve(alive.size());
  for (const Candidate& c : alive) apps.push_back(appInfoOf(c, entryList(), bootMs));
  return apps;
}

std::vector<AppInfo> LinuxWorkspace::runningApplications() {
  return collect(std::nullopt);
}

std::optional<AppInfo> LinuxWorkspace::applicationFrom(
    int32_t pid, const std::vector<x11::ListedWindow>* listed) {
  if (pid <= 0) return std::nullopt;
  std::vector<AppInfo> apps = collect(pid, listed);
  if (apps.empty()) return std::nullopt;
  return std::move(apps.front());
}

std::optional<AppInfo> LinuxWorkspace::application(int32_t pid) {
  return applicationFrom(pid, nullptr);
}

std::optional<AppInfo> LinuxWorkspace::applicationWithListing(int32_t pid,
                                                             const WindowListing& listing) {
  // Only a reading of this workspace's display stands in for one made now.
  const auto* record = dynamic_cast<const x11::ListedWindowsRecord*>(listing.record.get());
  const bool ours = record != nullptr && x_ != nullptr && record->x == x_;
  return applicationFrom(pid, ours ? &record->windows : nullptr);
}

bool LinuxWorkspace::running(int32_t pid) {
  if (pid <= 0 || !readProcess(pid)) return false;
  // The owner of a client window counts without asking the registry, as in collect().
  std::vector<x11::ListedWindow> windows;
  if (x_) windows = x11::listWindows(*x_);
  const std::map<int32_t, WindowClues> clues = windowCluesByPid(windows);
  if (auto it = clues.find(pid); it != clues.end() && it->second.ownsClient) return true;
  atspi::ObjectRef<GDBusConnection> bus = naming_.bus().connection();
  if (!bus) return false;
  for (const atspi::RegisteredApp& app : atspi::registeredApps(bus.get())) {
    if (app.pid == pid) return true;
  }
  return false;
}

std::string LinuxWorkspace::executablePath(int32_t pid) {
  return readExecutablePath(pid);
}

}  // namespace tavren::workspace
