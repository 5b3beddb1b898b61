#include "platform/linux/workspace/app_naming.h"

#include <optional>
#include <vector>

#include "platform/linux/workspace/process_info.h"

namespace tavren::workspace {

std::map<int32_t, std::string> AppNaming::ownerNames(const std::map<int32_t, WindowClues>& clues) {
  std::map<int32_t, std::string> names;
  if (clues.empty()) return names;
  DesktopEntryList entryList = entries();
  std::span<const DesktopEntry> all = *entryList;

  std::map<int32_t, ProcessInfo> processes;
  std::vector<NameQuery> unknown;
  for (const auto& [pid, windows] : clues) {
    std::optional<ProcessInfo> process = readProcess(pid);
    if (!process) {
      names[pid] = identifyApp(windows, {}, {}, {}, all).name;
      continue;
    }
    AppClues appClues{windows.gtkApplicationId, windows.wmInstance, windows.wmClass,
                      process->executablePath};
    if (!matchDesktopEntry(all, appClues) && !memo_.find(pid, process->startTicks)) {
      unknown.push_back({pid, process->startTicks, nullptr});
    }
    processes.emplace(pid, std::move(*process));
  }

  if (!unknown.empty()) {
    atspi::ObjectRef<GDBusConnection> bus = bus_.connection();
    bool answered = false;
    std::vector<atspi::RegisteredApp> registered;
    if (bus) registered = atspi::registeredApps(bus.get(), &answered);
    for (NameQuery& query : unknown) {
      for (const atspi::RegisteredApp& app : registered) {
        if (app.pid == query.pid && !query.registered) query.registered = &app;
      }
    }
    learnAccessibilityNames(bus.get(), unknown, answered, memo_);
  }

  for (const auto& [pid, process] : processes) {
    std::string atspiName = memo_.find(pid, process.startTicks).value_or(std::string());
    names[pid] =
        identifyApp(clues.at(pid), process.executablePath, atspiName, process.comm, all).name;
  }
  return names;
}

}  // namespace tavren::workspace
