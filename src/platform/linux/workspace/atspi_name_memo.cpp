#include "platform/linux/workspace/atspi_name_memo.h"

#include <algorithm>

namespace tavren::workspace {

std::optional<std::string> AtspiNameMemo::find(int32_t pid, uint64_t startTicks) const {
  std::lock_guard lock(mutex_);
  auto it = names_.find({pid, startTicks});
  if (it == names_.end()) return std::nullopt;
  return it->second;
}

void AtspiNameMemo::remember(int32_t pid, uint64_t startTicks, std::string name) {
  std::lock_guard lock(mutex_);
  names_.try_emplace({pid, startTicks}, std::move(name));
}

void AtspiNameMemo::keepOnly(const std::vector<std::pair<int32_t, uint64_t>>& live) {
  std::lock_guard lock(mutex_);
  std::erase_if(names_, [&](const auto& entry) {
    return std::find(live.begin(), live.end(), entry.first) == live.end();
  });
}

void learnAccessibilityNames(GDBusConnection* bus, std::span<const NameQuery> queries,
                             bool registryAnswered, AtspiNameMemo& memo) {
  std::vector<const NameQuery*> asking;
  std::vector<atspi::RegisteredApp> roots;
  for (const NameQuery& query : queries) {
    if (memo.find(query.pid, query.startTicks)) continue;
    if (query.registered && bus) {
      asking.push_back(&query);
      roots.push_back(*query.registered);
    } else if (!query.registered && registryAnswered) {
      memo.remember(query.pid, query.startTicks, {});
    }
  }
  if (roots.empty()) return;
  std::vector<std::string> names = atspi::applicationNames(bus, roots);
  for (size_t i = 0; i < asking.size(); ++i) {
    memo.remember(asking[i]->pid, asking[i]->startTicks, std::move(names[i]));
  }
}

}  // namespace tavren::workspace
