#include "platform/linux/windows/linux_app_windows.h"

#include "platform/linux/workspace/process_info.h"
#include "platform/linux/x11/window_list.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::appwindows {

namespace {

bool iconic(const x11::WindowFacts& facts) {
  return facts.wmState == x11::kIconicState || facts.hidden;
}

}  // namespace

LinuxApplicationWindows::LinuxApplicationWindows(const x11::XConnection* x, atspi::AtspiBus& bus)
    : x_(x), bus_(bus) {}

bool LinuxApplicationWindows::trusted() {
  // The same test as the accessibility capability, asked afresh: the bus may come and go.
  return bus_.connection() != nullptr && bus_.enabled().value_or(true);
}

std::vector<ClientWindow> LinuxApplicationWindows::clientWindows(int32_t pid) {
  if (!x_ || pid <= 0) return {};
  std::vector<x11::ListedWindow> listed;
  for (x11::ListedWindow& w : x11::listWindows(*x_)) {
    if (w.pid == pid) listed.push_back(std::move(w));
  }
  std::vector<xcb_get_property_cookie_t> cookies;
  for (const x11::ListedWindow& w : listed) {
    cookies.push_back(xcb_get_property(x_->get(), 0, w.facts.id,
                                       x_->atom(x11::Atom::_NET_FRAME_EXTENTS), XCB_ATOM_CARDINAL,
                                       0, 4));
  }
  std::vector<ClientWindow> clients;
  for (size_t i = 0; i < listed.size(); ++i) {
    const x11::ListedWindow& w = listed[i];
    auto reply = x_->reply(xcb_get_property_reply, cookies[i]);
    std::optional<std::array<uint32_t, 4>> extents = x11::frameExtents(reply.get());
    ClientWindow c;
    c.id = w.facts.id;
    c.title = w.facts.title;
    c.bounds = w.facts.bounds;
    c.managed = w.managed;
    c.iconic = w.managed && iconic(w.facts);
    if (c.bounds && extents) {
      c.frame =
          withFrameExtents(*c.bounds, (*extents)[0], (*extents)[1], (*extents)[2], (*extents)[3]);
    }
    clients.push_back(std::move(c));
  }
  return clients;
}

std::vector<PairedWindow> LinuxApplicationWindows::read(int32_t pid) {
  if (pid <= 0) return {};
  atspi::ObjectRef<GDBusConnection> bus = bus_.connection();
  if (!bus) return {};
  std::vector<AccessibleWindow> accessible = accessibleWindows(bus.get(), pid);
  if (accessible.empty()) return {};
  return pairedWindows(accessible, clientWindows(pid));
}

std::vector<AppWindowRecord> LinuxApplicationWindows::windows(int32_t pid) {
  std::vector<AppWindowRecord> records;
  for (PairedWindow& p : read(pid)) records.push_back(std::move(p.record));
  return records;
}

bool LinuxApplicationWindows::isHidden(int32_t pid) {
  return everyWindowMinimized(clientWindows(pid));
}

bool LinuxApplicationWindows::isTerminated(int32_t pid) {
  return pid <= 0 || !workspace::readProcess(pid);
}

void LinuxApplicationWindows::unhide(int32_t) {
  // An X application has no hidden state of its own: it is hidden when every window is
  // minimized, and restoring brings each of those back through unminimize, which also counts
  // them. Doing it here as well would race that count against the window manager.
}

bool LinuxApplicationWindows::unminimize(int32_t pid, size_t index) {
  if (!x_ || !x_->alive()) return false;
  std::vector<PairedWindow> windows = read(pid);
  // The list is read afresh: a window that is no longer minimized (or no longer there) at this
  // position is not one this request brings back.
  if (index >= windows.size() || windows[index].xWindow == 0 || !windows[index].record.minimized) {
    return false;
  }
  // ICCCM: a client leaves the iconic state by mapping its window again. The request goes to the
  // window manager (the frame redirects it), which restores and activates the window; without a
  // manager the server maps it directly.
  xcb_void_cookie_t cookie = xcb_map_window_checked(x_->get(), windows[index].xWindow);
  return x_->check(cookie).succeeded();
}

}  // namespace tavren::appwindows
