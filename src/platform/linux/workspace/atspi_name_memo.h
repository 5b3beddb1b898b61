#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/atspi/registered_apps.h"

namespace tavren::workspace {

// Accessibility names of applications, per process (pid and start time, so a reused pid is a
// new process), learnt once for the life of the process. An application's name is set once at
// start-up; asking again would be a call into the application, which may hang, and would let
// the name change with whether it answered. The workspace and the window list both name
// processes through this memo, so every method gives a process the same name.
class AtspiNameMemo {
 public:
  // The name learnt for the process, empty when it has none (it did not answer, or is not
  // registered with the accessibility registry); nothing when it has not been asked yet.
  std::optional<std::string> find(int32_t pid, uint64_t startTicks) const;
  // Keeps the first name learnt for a process: later ones are ignored.
  void remember(int32_t pid, uint64_t startTicks, std::string name);
  // Forgets every process not in this list (after a full listing of the live ones).
  void keepOnly(const std::vector<std::pair<int32_t, uint64_t>>& live);

 private:
  mutable std::mutex mutex_;
  std::map<std::pair<int32_t, uint64_t>, std::string> names_;
};

// A process whose accessibility name is wanted.
struct NameQuery {
  int32_t pid = 0;
  uint64_t startTicks = 0;
  const atspi::RegisteredApp* registered = nullptr;  // null: not registered
};

// Learns the names the memo does not know yet: the registered applications are asked in one
// batch (one that does not answer in time is remembered nameless); an unregistered one is
// remembered nameless only when the registry answered, since a missing bus says nothing.
void learnAccessibilityNames(GDBusConnection* bus, std::span<const NameQuery> queries,
                             bool registryAnswered, AtspiNameMemo& memo);

}  // namespace tavren::workspace
