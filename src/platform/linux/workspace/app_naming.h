#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/linux/atspi/atspi_bus.h"
#include "platform/linux/workspace/app_identity.h"
#include "platform/linux/workspace/atspi_name_memo.h"
#include "platform/linux/workspace/desktop_entry_cache.h"

namespace tavren::workspace {

// What names applications, shared by the workspace and the window list so that every method
// gives a process the same name: the installed desktop entries, the accessibility names learnt
// per process, and the bus they are learnt from.
class AppNaming {
 public:
  // The bus must outlive the naming.
  explicit AppNaming(atspi::AtspiBus& bus) : bus_(bus) {}

  DesktopEntryList entries() { return entries_.entries(); }
  AtspiNameMemo& memo() { return memo_; }
  atspi::AtspiBus& bus() { return bus_; }

  // The name of each process owning windows with these clues, as the workspace names it. A
  // process not named by a desktop entry and not yet in the memo has its accessibility name
  // learnt first (one registry call and one batch for all of them).
  std::map<int32_t, std::string> ownerNames(const std::map<int32_t, WindowClues>& clues);

 private:
  atspi::AtspiBus& bus_;
  DesktopEntryCache entries_;
  AtspiNameMemo memo_;
};

}  // namespace tavren::workspace
