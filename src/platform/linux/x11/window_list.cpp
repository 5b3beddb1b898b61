#include "platform/linux/x11/window_list.h"

#include <algorithm>
#include <unordered_set>

#include "platform/linux/x11/client_pids.h"
#include "platform/linux/x11/window_layer.h"
#include "platform/linux/x11/window_rules.h"
#include "platform/linux/x11/x_reply.h"

namespace tavren::x11 {

namespace {

// How deep below a top-level a client may hide when the window manager keeps no
// _NET_CLIENT_LIST (reparenting managers put it one or two levels down).
constexpr int kFrameSearchDepth = 3;

std::vector<xcb_window_t> childrenOf(const xcb_query_tree_reply_t* tree) {
  if (!tree) return {};
  const xcb_window_t* data = xcb_query_tree_children(tree);
  return std::vector<xcb_window_t>(data, data + xcb_query_tree_children_length(tree));
}

xcb_get_property_cookie_t askRootWindows(const XConnection& x, Atom atom, uint32_t words) {
  return xcb_get_property(x.get(), 0, x.root(), x.atom(atom), XCB_ATOM_WINDOW, 0, words);
}

void readRootProperties(const XConnection& x, xcb_get_property_cookie_t clients,
                        xcb_get_property_cookie_t check, ManagerState& root) {
  auto list = x.reply(xcb_get_property_reply, clients);
  root.hasClientList = list && list->type != XCB_ATOM_NONE;
  root.setClientList(windowList(list.get()));
  root.wmCheck = singleWindow(x.reply(xcb_get_property_reply, check).get());
}

// The root's children, bottom to top, and what the manager says.
std::vector<xcb_window_t> readRoot(const XConnection& x, ManagerState& manager) {
  auto tree = xcb_query_tree(x.get(), x.root());
  auto clients = askRootWindows(x, Atom::_NET_CLIENT_LIST, kListProperty);
  auto check = askRootWindows(x, Atom::_NET_SUPPORTING_WM_CHECK, 1);
  std::vector<xcb_window_t> children = childrenOf(x.reply(xcb_query_tree_reply, tree).get());
  readRootProperties(x, clients, check, manager);
  return children;
}

bool carriesState(const xcb_get_property_reply_t* wmState) {
  return wmState && wmState->type != XCB_ATOM_NONE &&
         propertyWord(wmState, kWithdrawnState) != kWithdrawnState;
}

struct TopCookies {
  xcb_get_window_attributes_cookie_t attributes;
  xcb_get_property_cookie_t wmState;
  xcb_query_tree_cookie_t tree;
};

TopCookies askTopLevel(const XConnection& x, xcb_window_t w) {
  return {xcb_get_window_attributes(x.get(), w),
          xcb_get_property(x.get(), 0, w, x.atom(Atom::WM_STATE), x.atom(Atom::WM_STATE), 0, 2),
          xcb_query_tree(x.get(), w)};
}

TopLevelFacts readTopLevel(const XConnection& x, xcb_window_t w, const TopCookies& k) {
  auto attributes = x.reply(xcb_get_window_attributes_reply, k.attributes);
  auto wmState = x.reply(xcb_get_property_reply, k.wmState);
  auto tree = x.reply(xcb_query_tree_reply, k.tree);
  TopLevelFacts top;
  top.id = w;
  if (!attributes) return top;
  top.exists = true;
  top.overrideRedirect = attributes->override_redirect != 0;
  top.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  top.inputOnly = attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY;
  top.carriesState = carriesState(wmState.get());
  top.children = childrenOf(tree.get());
  return top;
}

// For managers that keep no client list: breadth-first search below the frame for the window
// that carries WM_STATE, one round trip per level for all frames together.
void searchFrames(const XConnection& x, std::vector<Slot>& slots) {
  for (int depth = 0; depth < kFrameSearchDepth; ++depth) {
    struct Ask {
      xcb_get_property_cookie_t wmState;
      xcb_query_tree_cookie_t tree;
    };
    std::vector<std::vector<Ask>> cookies(slots.size());
    bool any = false;
    for (size_t i = 0; i < slots.size(); ++i) {
      for (xcb_window_t w : slots[i].frontier) {
        cookies[i].push_back(
            {xcb_get_property(x.get(), 0, w, x.atom(Atom::WM_STATE), x.atom(Atom::WM_STATE), 0, 2),
             xcb_query_tree(x.get(), w)});
        any = true;
      }
    }
    if (!any) return;
    for (size_t i = 0; i < slots.size(); ++i) {
      std::vector<xcb_window_t> next;
      for (size_t j = 0; j < cookies[i].size(); ++j) {
        auto wmState = x.reply(xcb_get_property_reply, cookies[i][j].wmState);
        auto tree = x.reply(xcb_query_tree_reply, cookies[i][j].tree);
        if (carriesState(wmState.get())) slots[i].windows.push_back(slots[i].frontier[j]);
        std::vector<xcb_window_t> children = childrenOf(tree.get());
        next.insert(next.end(), children.rbegin(), children.rend());
      }
      slots[i].managed = !slots[i].windows.empty();
      slots[i].frontier = slots[i].managed ? std::vector<xcb_window_t>{} : std::move(next);
    }
  }
}

ListedWindow makeListed(WindowFacts facts, int32_t serverPid, bool managed) {
  ListedWindow listed;
  listed.pid = chooseWindowPid(serverPid, facts.netWmPid, facts.clientMachine, localHostName());
  listed.managed = managed;
  listed.layer = windowLayer(facts.types, !managed && facts.overrideRedirect, facts.keptAbove);
  listed.facts = std::move(facts);
  return listed;
}

}  // namespace

std::vector<ListedWindow> listWindows(const XConnection& x) {
  if (!x.alive()) return {};
  ManagerState root;
  std::vector<xcb_window_t> children = readRoot(x, root);
  std::vector<TopCookies> cookies;
  cookies.reserve(children.size());
  for (xcb_window_t w : children) cookies.push_back(askTopLevel(x, w));
  std::vector<TopLevelFacts> tops;
  tops.reserve(children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    tops.push_back(readTopLevel(x, children[i], cookies[i]));
  }
  std::vector<Slot> slots;  // front to back
  for (auto top = tops.rbegin(); top != tops.rend(); ++top) {
    slots.push_back(classifyTopLevel(root, *top));
  }
  searchFrames(x, slots);

  std::vector<xcb_window_t> ids;
  std::vector<char> managed, needsClass;
  std::unordered_set<xcb_window_t> seen;
  auto add = [&](xcb_window_t w, bool isManaged, bool isBare) {
    if (!seen.insert(w).second) return;
    ids.push_back(w);
    managed.push_back(isManaged);
    needsClass.push_back(isBare);
  };
  for (const Slot& slot : slots) {
    for (xcb_window_t w : slot.windows) add(w, slot.managed, slot.needsClass);
  }
  // Clients the manager keeps somewhere outside the root's subtree of frames.
  for (xcb_window_t w : root.clientList) add(w, true, false);

  ClientPidQuery pids(x, ids);
  std::vector<WindowFacts> facts = fetchWindowFacts(x, ids);
  std::vector<int32_t> serverPids = pids.collect();
  std::vector<ListedWindow> listed;
  listed.reserve(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    if (!facts[i].exists) continue;
    if (needsClass[i] && !namesItsClass(facts[i])) continue;
    listed.push_back(makeListed(std::move(facts[i]), serverPids[i], managed[i] || needsClass[i]));
  }
  return listed;
}

std::optional<ListedWindow> describeWindow(const XConnection& x, xcb_window_t id) {
  if (!x.alive() || id == XCB_WINDOW_NONE) return std::nullopt;
  auto tree = xcb_query_tree(x.get(), id);
  auto clients = askRootWindows(x, Atom::_NET_CLIENT_LIST, kListProperty);
  auto check = askRootWindows(x, Atom::_NET_SUPPORTING_WM_CHECK, 1);
  ClientPidQuery pids(x, std::span<const xcb_window_t>(&id, 1));
  std::vector<WindowFacts> facts = fetchWindowFacts(x, std::span<const xcb_window_t>(&id, 1));
  int32_t serverPid = pids.collect()[0];
  auto treeReply = x.reply(xcb_query_tree_reply, tree);
  ManagerState root;
  readRootProperties(x, clients, check, root);

  if (!treeReply) return std::nullopt;
  Listing listing = listingOf(root, facts[0], treeReply->parent == x.root());
  if (listing == Listing::None) return std::nullopt;
  return makeListed(std::move(facts[0]), serverPid, listing == Listing::Client);
}

}  // namespace tavren::x11
