#include <gtest/gtest.h>

#include "platform/linux/x11/window_rules.h"

namespace tavren::x11 {
namespace {

ManagerState manager(std::vector<xcb_window_t> clients, xcb_window_t check = 0x100) {
  ManagerState m;
  m.hasClientList = true;
  m.setClientList(std::move(clients));
  m.wmCheck = check;
  return m;
}

TopLevelFacts top(xcb_window_t id, bool viewable = true) {
  TopLevelFacts t;
  t.id = id;
  t.exists = true;
  t.viewable = viewable;
  return t;
}

TEST(LinuxWindowRules, FramesStandForTheirClients) {
  ManagerState m = manager({0x400007, 0x500007});
  TopLevelFacts frame = top(0x200261);
  frame.children = {0x2002ad, 0x400007, 0x2002ac};  // decorations around the client
  Slot slot = classifyTopLevel(m, frame);
  EXPECT_EQ(slot.windows, std::vector<xcb_window_t>{0x400007});
  EXPECT_TRUE(slot.managed);
  EXPECT_TRUE(slot.frontier.empty());

  // A minimized client's frame is unmapped; the client is still listed (off screen).
  TopLevelFacts hidden = top(0x200300, false);
  hidden.children = {0x500007};
  EXPECT_EQ(classifyTopLevel(m, hidden).windows, std::vector<xcb_window_t>{0x500007});
}

TEST(LinuxWindowRules, ClientsWithoutFrames) {
  ManagerState m = manager({0x600001});
  TopLevelFacts stated = top(0x700001);
  stated.carriesState = true;  // a non-reparenting manager leaves clients on the root
  EXPECT_TRUE(classifyTopLevel(m, stated).managed);
  TopLevelFacts listed = top(0x600001, false);
  EXPECT_EQ(classifyTopLevel(m, listed).windows, std::vector<xcb_window_t>{0x600001});
}

TEST(LinuxWindowRules, OnlyMappedDrawablePopups) {
  ManagerState m = manager({}, 0x20020b);
  TopLevelFacts menu = top(0x457c7d);
  menu.overrideRedirect = true;
  Slot slot = classifyTopLevel(m, menu);
  EXPECT_EQ(slot.windows, std::vector<xcb_window_t>{0x457c7d});
  EXPECT_FALSE(slot.managed);

  TopLevelFacts cachedMenu = menu;
  cachedMenu.viewable = false;  // toolkits keep unmapped pop-ups around
  TopLevelFacts inputOnly = menu;
  inputOnly.inputOnly = true;
  TopLevelFacts checkWindow = top(0x20020b);  // mapped override-redirect, 1x1 off screen
  checkWindow.overrideRedirect = true;
  for (const TopLevelFacts& t : {cachedMenu, inputOnly, checkWindow}) {
    EXPECT_TRUE(classifyTopLevel(m, t).windows.empty()) << std::hex << t.id;
  }
}

TEST(LinuxWindowRules, HelperWindowsAreNotListed) {
  ManagerState m = manager({0x400007});
  TopLevelFacts leader = top(0x400001, false);  // a toolkit's hidden group leader
  EXPECT_TRUE(classifyTopLevel(m, leader).windows.empty());
  TopLevelFacts gone = top(0x400002);
  gone.exists = false;
  EXPECT_TRUE(classifyTopLevel(m, gone).windows.empty());
  EXPECT_TRUE(classifyTopLevel(m, gone).frontier.empty());
}

TEST(LinuxWindowRules, FramesOfManagersWithoutClientListAreSearched) {
  ManagerState m;
  m.wmCheck = 0x100;
  TopLevelFacts frame = top(0x200261);
  frame.children = {0x1, 0x2};
  Slot slot = classifyTopLevel(m, frame);
  EXPECT_TRUE(slot.windows.empty());
  EXPECT_EQ(slot.frontier, (std::vector<xcb_window_t>{0x2, 0x1}));  // front first
}

TEST(LinuxWindowRules, WithoutManagerMappedTopLevelsStandForThemselves) {
  ManagerState none;
  Slot slot = classifyTopLevel(none, top(0x800030));
  EXPECT_EQ(slot.windows, std::vector<xcb_window_t>{0x800030});
  EXPECT_TRUE(slot.needsClass);
  EXPECT_TRUE(classifyTopLevel(none, top(0x800031, false)).windows.empty());
}

WindowFacts facts(xcb_window_t id) {
  WindowFacts f;
  f.id = id;
  f.exists = true;
  f.viewable = true;
  return f;
}

TEST(LinuxWindowRules, SingleWindowFollowsTheListRules) {
  ManagerState m = manager({0x400007}, 0x20020b);
  WindowFacts client = facts(0x400007);
  EXPECT_EQ(listingOf(m, client, false), Listing::Client);  // a client inside its frame
  WindowFacts iconic = facts(0x500007);
  iconic.viewable = false;
  iconic.wmState = kIconicState;
  EXPECT_EQ(listingOf(m, iconic, false), Listing::Client);
  WindowFacts withdrawn = facts(0x500008);
  withdrawn.wmState = kWithdrawnState;
  EXPECT_EQ(listingOf(m, withdrawn, false), Listing::None);

  WindowFacts menu = facts(0x457c7d);
  menu.overrideRedirect = true;
  EXPECT_EQ(listingOf(m, menu, true), Listing::Popup);
  EXPECT_EQ(listingOf(m, menu, false), Listing::None);  // a child window is not a pop-up
  WindowFacts check = menu;
  check.id = 0x20020b;
  EXPECT_EQ(listingOf(m, check, true), Listing::None);
  WindowFacts frame = facts(0x200261);  // the manager's frame, not the application's window
  EXPECT_EQ(listingOf(m, frame, true), Listing::None);
  WindowFacts gone = facts(0x400007);
  gone.exists = false;
  EXPECT_EQ(listingOf(m, gone, true), Listing::None);

  ManagerState none;
  WindowFacts bare = facts(0x800030);
  EXPECT_EQ(listingOf(none, bare, true), Listing::None);  // no WM_CLASS: not an application's
  bare.wmClass = "Xmessage";
  EXPECT_EQ(listingOf(none, bare, true), Listing::Client);
}

}  // namespace
}  // namespace tavren::x11
