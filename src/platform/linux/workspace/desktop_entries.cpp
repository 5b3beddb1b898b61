#include "platform/linux/workspace/desktop_entries.h"

#include <glib.h>

#include <filesystem>

namespace tavren::workspace {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

template <class Predicate>
const DesktopEntry* firstWhere(std::span<const DesktopEntry> entries, Predicate matches) {
  for (const DesktopEntry& entry : entries) {
    if (matches(entry)) return &entry;
  }
  return nullptr;
}

}  // namespace

const DesktopEntry* matchDesktopEntry(std::span<const DesktopEntry> entries,
                                      const AppClues& clues) {
  if (!clues.gtkApplicationId.empty()) {
    if (auto* entry = firstWhere(
            entries, [&](const DesktopEntry& e) { return e.id == clues.gtkApplicationId; })) {
      return entry;
    }
  }
  if (!clues.wmClass.empty() || !clues.wmInstance.empty()) {
    if (auto* entry = firstWhere(entries, [&](const DesktopEntry& e) {
          return !e.startupWmClass.empty() &&
                 (sameIgnoringCase(e.startupWmClass, clues.wmClass) ||
                  sameIgnoringCase(e.startupWmClass, clues.wmInstance));
        })) {
      return entry;
    }
  }
  const std::string program = std::filesystem::path(clues.executablePath).filename().string();
  if (program.empty()) return nullptr;
  return firstWhere(entries, [&](const DesktopEntry& e) {
    return !e.terminal && (e.execName == program || e.execTarget == program);
  });
}

}  // namespace tavren::workspace
