#pragma once

#include <cstdint>
#include <mutex>
#include <set>

#include "core/event_sink.h"
#include "core/json.h"
#include "platform/app_watcher.h"
#include "platform/application_windows.h"
#include "platform/workspace.h"

namespace tavren {

// The applications being watched, by pid. An entry is added when watching begins and is never
// removed, not even when the application quits: its watch lasts as long as the service.
struct AppObservers {
  std::mutex mutex;  // held for a whole installation, so one pid is never installed twice
  std::set<int32_t> pids;
};

// Starts watching the application and answers the "watchApp" result: {"pid", "watching": true,
// "existing": true} when it is watched already (nothing is installed again), {"pid",
// "watching": true, "windows"} when watching began now, {"pid", "watching": false, "code"} when
// the platform could not watch it (nothing is stored; a later call tries again). Every change
// of the application then goes to `sink` as one "windowLifecycle" event line.
Json installAppObserver(const AppInfo& app, AppObservers& observers, AppWatcher& watcher,
                        ApplicationWindows& liveness, EventSink sink);

// The event line of one change. `running` is the application's identity while the process
// runs, null once it has ended; `atMs` the time of emission in ms since 1970.
Json lifecycleEvent(const WindowChange& change, const AppInfo* running, int64_t atMs);

}  // namespace tavren
