#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tavren::workspace {

// Accessibility names of applications already asked, per process (pid and start time, so a
// reused pid is a new process). An application's name is set once at start-up, and asking it
// again means a call into the application, which may hang; the window list also uses the
// names known here so that window owners are named as the workspace names them.
class AtspiNameMemo {
 public:
  // An application that did not answer is not asked again for this long, so that one hung
  // application does not add a call timeout to every listing.
  explicit AtspiNameMemo(
      std::chrono::steady_clock::duration silenceMemory = std::chrono::seconds(30))
      : silenceMemory_(silenceMemory) {}

  // The name, empty when the application recently did not answer; nothing when it is to be
  // asked.
  std::optional<std::string> find(int32_t pid, uint64_t startTicks);
  // An empty name records that the application did not answer.
  void remember(int32_t pid, uint64_t startTicks, std::string name);
  // Forgets every process not in this list (after a full listing of the live ones).
  void keepOnly(const std::vector<std::pair<int32_t, uint64_t>>& live);

 private:
  struct Known {
    std::string name;
    std::chrono::steady_clock::time_point askAgainAfter;  // only for an empty name
  };
  const std::chrono::steady_clock::duration silenceMemory_;
  std::mutex mutex_;
  std::map<std::pair<int32_t, uint64_t>, Known> names_;
};

}  // namespace tavren::workspace
