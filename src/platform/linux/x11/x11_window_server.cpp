#include "platform/linux/x11/x11_window_server.h"

#include <map>

#include "platform/linux/workspace/app_identity.h"
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

X11WindowServer::X11WindowServer(const XConnection* x, workspace::AppNaming& naming)
    : x_(x), naming_(naming) {}

std::vector<WindowInfo> X11WindowServer::windows() {
  if (!x_) return {};
  std::vector<ListedWindow> listed = listWindows(*x_);
  std::map<int32_t, std::string> names =
      naming_.ownerNames(workspace::windowCluesByPid(listed));
  std::vector<WindowInfo> infos;
  infos.reserve(listed.size());
  for (const ListedWindow& window : listed) {
    auto name = names.find(window.pid);
    infos.push_back(infoOf(window, name == names.end() ? std::string() : name->second));
  }
  return infos;
}

std::vector<WindowInfo> X11WindowServer::unnamedWindows() { return unnamedListing().windows; }

WindowListing X11WindowServer::unnamedListing() {
  if (!x_) return {};
  auto record = std::make_shared<ListedWindowsRecord>(x_, listWindows(*x_));
  WindowListing listing;
  listing.windows.reserve(record->windows.size());
  for (const ListedWindow& window : record->windows) listing.windows.push_back(infoOf(window, {}));
  listing.record = std::move(record);
  return listing;
}

std::optional<WindowInfo> X11WindowServer::window(uint32_t number) {
  if (!x_) return std::nullopt;
  std::optional<ListedWindow> listed = describeWindow(*x_, number);
  if (!listed) return std::nullopt;
  std::string name;
  if (listed->pid > 0) {
    auto clues = workspace::windowCluesByPid(std::span<const ListedWindow>(&*listed, 1));
    name = naming_.ownerNames(clues)[listed->pid];
  }
  return infoOf(*listed, std::move(name));
}

std::optional<WindowInfo> X11WindowServer::unnamedWindow(uint32_t number) {
  if (!x_) return std::nullopt;
  std::optional<ListedWindow> listed = describeWindow(*x_, number);
  if (!listed) return std::nullopt;
  return infoOf(*listed, {});
}

}  // namespace tavren::x11
