#pragma once

#include <xcb/xcb.h>

#include <unordered_set>
#include <vector>

#include "platform/linux/x11/window_facts.h"

namespace tavren::x11 {

// What the root window says about the window manager.
struct ManagerState {
  std::vector<xcb_window_t> clientList;  // _NET_CLIENT_LIST, in the manager's order
  std::unordered_set<xcb_window_t> clients;
  bool hasClientList = false;
  xcb_window_t wmCheck = XCB_WINDOW_NONE;  // _NET_SUPPORTING_WM_CHECK as the root names it

  void setClientList(std::vector<xcb_window_t> list);
  bool running() const { return hasClientList || wmCheck != XCB_WINDOW_NONE; }
  bool isClient(xcb_window_t w) const { return clients.count(w) != 0; }
};

// One child of the root, as the server described it.
struct TopLevelFacts {
  xcb_window_t id = XCB_WINDOW_NONE;
  bool exists = false;
  bool overrideRedirect = false;
  bool viewable = false;
  bool inputOnly = false;
  bool carriesState = false;           // WM_STATE Normal or Iconic
  std::vector<xcb_window_t> children;  // bottom to top
};

// What one child of the root stands for in the window list.
struct Slot {
  std::vector<xcb_window_t> windows;   // front to back
  bool managed = false;                // clients of the manager, not pop-ups
  bool needsClass = false;             // a bare top-level, kept only if it has a WM_CLASS
  std::vector<xcb_window_t> frontier;  // frame descendants still to search for a client
};

// A top-level carrying WM_STATE or named by the client list is a client; a mapped
// override-redirect one is a pop-up, except the manager's check window and input-only
// windows; any other is a frame whose client is the child the client list names, or which is
// to be searched further when the manager keeps no list. With no manager at all, mapped
// top-levels stand for themselves.
Slot classifyTopLevel(const ManagerState& manager, const TopLevelFacts& top);

// How a single window is listed, by the same rules: as a client, as a pop-up, or not at all.
enum class Listing { None, Client, Popup };
Listing listingOf(const ManagerState& manager, const WindowFacts& facts, bool topLevel);

// A bare top-level (no manager running) is an application's window only if it names its class.
bool namesItsClass(const WindowFacts& facts);

}  // namespace tavren::x11
