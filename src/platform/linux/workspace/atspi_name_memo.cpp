#include "platform/linux/workspace/atspi_name_memo.h"

#include <algorithm>

namespace tavren::workspace {

std::optional<std::string> AtspiNameMemo::find(int32_t pid, uint64_t startTicks) {
  std::lock_guard lock(mutex_);
  auto it = names_.find({pid, startTicks});
  if (it == names_.end()) return std::nullopt;
  const Known& known = it->second;
  if (known.name.empty() && std::chrono::steady_clock::now() >= known.askAgainAfter) {
    return std::nullopt;
  }
  return known.name;
}

void AtspiNameMemo::remember(int32_t pid, uint64_t startTicks, std::string name) {
  std::lock_guard lock(mutex_);
  names_[{pid, startTicks}] = {std::move(name), std::chrono::steady_clock::now() + silenceMemory_};
}

void AtspiNameMemo::keepOnly(const std::vector<std::pair<int32_t, uint64_t>>& live) {
  std::lock_guard lock(mutex_);
  std::erase_if(names_, [&](const auto& entry) {
    return std::find(live.begin(), live.end(), entry.first) == live.end();
  });
}

}  // namespace tavren::workspace
