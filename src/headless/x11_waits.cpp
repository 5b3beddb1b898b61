#include "headless/x11_waits.h"

#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/linux/x11/x_link.h"

namespace tavren::headless {
namespace {

using x11::XLink;

std::unique_ptr<XLink> connect(const std::string& display) {
  return XLink::connect(display);
}

xcb_atom_t atom(const XLink& x, const char* name) {
  return x.internAtom(name);
}

void listenTo(xcb_connection_t* c, xcb_window_t window, uint32_t mask) {
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
}

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t w, xcb_atom_t a) {
  return xcb_get_property(c, 0, w, a, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
}

using Property = x11::Reply<xcb_get_property_reply_t>;

Property property(const XLink& x, xcb_get_property_cookie_t cookie) {
  return x.reply(xcb_get_property_reply, cookie);
}

xcb_window_t windowProperty(const XLink& x, xcb_window_t w, xcb_atom_t a) {
  return x11::singleWindow(property(x, askProperty(x.get(), w, a)).get());
}

// Sleeps until the server sends something or `tick` passes, whichever is first. Events that an
// earlier reply pulled into xcb's queue do not make the socket readable, so those end the wait
// at once. Returns false once the deadline has passed.
bool awaitChange(xcb_connection_t* c, Deadline deadline, std::chrono::milliseconds tick) {
  bool queued = false;
  while (xcb_generic_event_t* event = xcb_poll_for_queued_event(c)) {
    std::free(event);
    queued = true;
  }
  auto now = std::chrono::steady_clock::now();
  if (now >= deadline) return false;
  if (queued) return true;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
  pollfd pfd = {xcb_get_file_descriptor(c), POLLIN, 0};
  poll(&pfd, 1, static_cast<int>(std::min(left, tick).count()) + 1);
  while (xcb_generic_event_t* event = xcb_poll_for_event(c)) std::free(event);
  return true;
}

bool containsText(const std::string& value, const std::string& text) {
  return value.find(text) != std::string::npos;
}

struct WindowAtoms {
  xcb_atom_t clientList, pid, netName;
};

std::vector<xcb_window_t> rootChildren(const XLink& x) {
  auto tree = x.reply(xcb_query_tree_reply, xcb_query_tree(x.get(), x.root()));
  if (!tree) return {};
  xcb_window_t* children = xcb_query_tree_children(tree.get());
  return {children, children + xcb_query_tree_children_length(tree.get())};
}

// Top-level client windows: the manager's list when there is one, else the root's children.
// With `popups`, the root's children join the list; which of them are pop-ups the caller tells
// by their override-redirect flag.
std::vector<xcb_window_t> clientWindows(const XLink& x, const WindowAtoms& atoms, bool popups) {
  Property listed = property(x, askProperty(x.get(), x.root(), atoms.clientList));
  if (!listed || listed->type == XCB_ATOM_NONE) return rootChildren(x);
  std::vector<xcb_window_t> windows = x11::windowList(listed.get());
  if (popups) {
    for (xcb_window_t w : rootChildren(x)) {
      if (std::find(windows.begin(), windows.end(), w) == windows.end()) windows.push_back(w);
    }
  }
  return windows;
}

}  // namespace

bool waitForXServer(const std::string& display, Deadline deadline, const GiveUp& giveUp,
                    std::string* error) {
  for (;;) {
    if (connect(display)) return true;
    if (giveUp && giveUp()) {
      *error = "the X server exited before accepting connections";
      return false;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      *error = "the X server on " + display + " does not accept connections";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool waitForWindowManager(const std::string& display, Deadline deadline, const GiveUp& giveUp,
                          std::string* error) {
  auto desktop = connect(display);
  if (!desktop) {
    *error = "cannot connect to " + display;
    return false;
  }
  xcb_connection_t* c = desktop->get();
  xcb_atom_t check = atom(*desktop, "_NET_SUPPORTING_WM_CHECK");
  listenTo(c, desktop->root(), XCB_EVENT_MASK_PROPERTY_CHANGE);
  xcb_flush(c);
  for (;;) {
    xcb_window_t window = windowProperty(*desktop, desktop->root(), check);
    if (window != XCB_WINDOW_NONE && windowProperty(*desktop, window, check) == window) {
      return true;
    }
    if (giveUp && giveUp()) {
      *error = "the window manager exited during start-up";
      return false;
    }
    if (!awaitChange(c, deadline, std::chrono::milliseconds(100))) {
      *error = "no window manager announced itself on " + display;
      return false;
    }
  }
}

std::optional<uint32_t> waitForClientWindow(const std::string& display, pid_t pid,
                                            const std::string& text, bool popups,
                                            Deadline deadline) {
  auto desktop = connect(display);
  if (!desktop) return std::nullopt;
  xcb_connection_t* c = desktop->get();
  WindowAtoms atoms = {atom(*desktop, "_NET_CLIENT_LIST"), atom(*desktop, "_NET_WM_PID"),
                       atom(*desktop, "_NET_WM_NAME")};
  // Map notifications of top-levels (frames, with a manager) and client list changes wake the
  // loop; title and pid changes of each window seen so far do too.
  listenTo(c, desktop->root(), XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
  std::set<xcb_window_t> watched;
  struct Pending {
    xcb_window_t window;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_property_cookie_t pid, wmClass, netName, wmName;
  };
  for (;;) {
    std::vector<Pending> pending;
    for (xcb_window_t w : clientWindows(*desktop, atoms, popups)) {
      if (watched.insert(w).second) {
        listenTo(c, w, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
      }
      pending.push_back({w, xcb_get_window_attributes(c, w), askProperty(c, w, atoms.pid),
                         askProperty(c, w, XCB_ATOM_WM_CLASS), askProperty(c, w, atoms.netName),
                         askProperty(c, w, XCB_ATOM_WM_NAME)});
    }
    std::optional<xcb_window_t> found;
    for (const Pending& p : pending) {
      auto attributes = desktop->reply(xcb_get_window_attributes_reply, p.attributes);
      const uint32_t windowPid = x11::wmPid(property(*desktop, p.pid).get());
      auto [instance, className] = x11::wmClassNames(property(*desktop, p.wmClass).get());
      const std::string netName = x11::propertyBytes(property(*desktop, p.netName).get());
      const std::string wmName = x11::propertyBytes(property(*desktop, p.wmName).get());
      if (found || !attributes || (attributes->override_redirect && !popups) ||
          attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
        continue;
      }
      bool pidMatches = pid <= 0 || windowPid == static_cast<uint32_t>(pid);
      // The instance and the class name are matched each on its own, never across the two.
      bool textMatches = text.empty() || containsText(instance, text) ||
                         containsText(className, text) || containsText(netName, text) ||
                         containsText(wmName, text);
      if (pidMatches && textMatches) found = p.window;
    }
    if (found) return found;
    if (!awaitChange(c, deadline, std::chrono::milliseconds(100))) return std::nullopt;
  }
}

}  // namespace tavren::headless
