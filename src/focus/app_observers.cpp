#include "focus/app_observers.h"

#include <chrono>
#include <utility>

#include "server/line_writer.h"

namespace tavren {

namespace {

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// "appId": the bundle identifier, else the name; empty when neither exists.
const std::string& eventAppId(const AppInfo& app) {
  return app.bundleId.empty() ? app.name : app.bundleId;
}

}  // namespace

Json lifecycleEvent(const WindowChange& change, const AppInfo* running, int64_t atMs) {
  std::string title = change.title;
  // The application element's title is its name; nothing can be read of an ended process.
  if (change.ofApplication) title = running ? running->name : std::string();
  return Json{{"version", kProtocolVersion},
              {"event", "windowLifecycle"},
              {"pid", change.pid},
              {"appId", running ? eventAppId(*running) : std::string()},
              {"notification", change.notification},
              {"title", std::move(title)},
              {"at", atMs}};
}

Json installAppObserver(const AppInfo& app, AppObservers& observers, AppWatcher& watcher,
                        ApplicationWindows& liveness, EventSink sink) {
  std::lock_guard lock(observers.mutex);
  if (observers.pids.contains(app.pid)) {
    return Json{{"pid", app.pid}, {"watching", true}, {"existing", true}};
  }
  // The identity is taken once: it does not change while the process runs, and reading the
  // desktop for every event would slow every line down.
  WatchStart start = watcher.watch(
      app.pid, [app, sink = std::move(sink), &liveness](const WindowChange& change) {
        const bool running = !liveness.isTerminated(change.pid);
        sink(lifecycleEvent(change, running ? &app : nullptr, nowMs()));
      });
  if (!start.watching) return Json{{"pid", app.pid}, {"watching", false}, {"code", start.code}};
  observers.pids.insert(app.pid);
  return Json{{"pid", app.pid}, {"watching", true}, {"windows", start.windows}};
}

}  // namespace tavren
