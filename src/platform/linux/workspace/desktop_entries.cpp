#include "platform/linux/workspace/desktop_entries.h"

#include <glib.h>

namespace tavren::workspace {

namespace {

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string_view baseName(std::string_view path) {
  size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
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
  std::string_view program = baseName(clues.executablePath);
  if (program.empty()) return nullptr;
  return firstWhere(entries, [&](const DesktopEntry& e) {
    return !e.terminal && (e.execName == program || e.execTarget == program);
  });
}

}  // namespace tavren::workspace
