#include "platform/linux/x11/x11_window_server.h"

#include <map>

#include "platform/linux/workspace/app_identity.h"
#include "platform/linux/workspace/process_info.h"
#include "platform/linux/x11/window_list.h"

namespace tavren::x11 {

namespace {

WindowInfo infoOf(const ListedWindow& listed, std::string ownerName) {
  WindowInfo info;
  info.number = listed.facts.id;
  info.ownerPid = listed.pid;
  info.ownerName = std::move(ownerName);
  info.title = listed.facts.title;
  info.bounds = listed.facts.bounds;
  info.layer = listed.layer;
  info.onScreen = listed.facts.viewable;
  return info;
}

}  // namespace

X11WindowServer::X11WindowServer(const XConnection* x, workspace::DesktopEntryCache& entries,
                                 workspace::AtspiNameMemo& names)
    : x_(x), entries_(entries), names_(names) {}

std::string X11WindowServer::ownerName(int32_t pid, const workspace::WindowClues& clues,
                                       std::span<const workspace::DesktopEntry> entries) {
  std::optional<workspace::ProcessInfo> process = workspace::readProcess(pid);
  if (!process) return workspace::identifyApp(clues, {}, {}, {}, entries).name;
  std::string atspiName = names_.find(pid, process->startTicks).value_or(std::string());
  return workspace::identifyApp(clues, process->executablePath, atspiName, process->comm, entries)
      .name;
}

std::vector<WindowInfo> X11WindowServer::windows() {
  if (!x_) return {};
  std::vector<ListedWindow> listed = listWindows(*x_);
  std::map<int32_t, workspace::WindowClues> clues = workspace::windowCluesByPid(listed);
  workspace::DesktopEntryList entries;
  if (!clues.empty()) entries = entries_.entries();
  std::map<int32_t, std::string> names;
  for (const auto& [pid, pidClues] : clues) names[pid] = ownerName(pid, pidClues, *entries);
  std::vector<WindowInfo> infos;
  infos.reserve(listed.size());
  for (const ListedWindow& window : listed) {
    auto name = names.find(window.pid);
    infos.push_back(infoOf(window, name == names.end() ? std::string() : name->second));
  }
  return infos;
}

std::optional<WindowInfo> X11WindowServer::window(uint32_t number) {
  if (!x_) return std::nullopt;
  std::optional<ListedWindow> listed = describeWindow(*x_, number);
  if (!listed) return std::nullopt;
  std::string name;
  if (listed->pid > 0) {
    auto clues = workspace::windowCluesByPid(std::span<const ListedWindow>(&*listed, 1));
    name = ownerName(listed->pid, clues[listed->pid], *entries_.entries());
  }
  return infoOf(*listed, std::move(name));
}

}  // namespace tavren::x11
