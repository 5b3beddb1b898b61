#include <gtest/gtest.h>

#include "platform/linux/watch/window_change_rules.h"

namespace tavren::watch {
namespace {

WindowState window(uint32_t id, int32_t pid, std::string title, Rect bounds,
                   bool minimized = false) {
  return WindowState{.window = id, .pid = pid, .title = std::move(title), .bounds = bounds,
                     .minimized = minimized};
}

std::vector<std::string> names(const std::vector<WindowChange>& changes) {
  std::vector<std::string> out;
  for (const auto& c : changes) out.push_back(c.notification);
  return out;
}

using Names = std::vector<std::string>;

TEST(WindowChangeRulesTest, EachChangeIsReportedOnceWhateverTheNumberOfReads) {
  WatchedWindows w;
  trackWindow(w, window(1, 10, "Doc", {0, 0, 400, 300}));
  EXPECT_TRUE(windowUpdated(w, window(1, 10, "Doc", {0, 0, 400, 300})).empty());

  auto moved = windowUpdated(w, window(1, 10, "Doc", {50, 60, 400, 300}));
  ASSERT_EQ(names(moved), Names{"AXMoved"});
  EXPECT_EQ(moved[0].title, "Doc");
  EXPECT_EQ(moved[0].pid, 10);
  EXPECT_TRUE(windowUpdated(w, window(1, 10, "Doc", {50, 60, 400, 300})).empty());

  EXPECT_EQ(names(windowUpdated(w, window(1, 10, "Doc", {50, 60, 500, 300}))), Names{"AXResized"});
  // Dragging the left edge moves and resizes at once.
  EXPECT_EQ(names(windowUpdated(w, window(1, 10, "Doc", {40, 60, 510, 300}))),
            (Names{"AXMoved", "AXResized"}));
  auto retitled = windowUpdated(w, window(1, 10, "Doc 2", {40, 60, 510, 300}));
  ASSERT_EQ(names(retitled), Names{"AXTitleChanged"});
  EXPECT_EQ(retitled[0].title, "Doc 2");
  // Untracked windows (another application's) report nothing.
  EXPECT_TRUE(windowUpdated(w, window(2, 11, "Other", {0, 0, 1, 1})).empty());
}

TEST(WindowChangeRulesTest, MinimizingTheLastShownWindowHidesTheApplication) {
  WatchedWindows w;
  trackWindow(w, window(1, 10, "A", {0, 0, 100, 100}));
  trackWindow(w, window(2, 10, "B", {0, 0, 100, 100}));
  EXPECT_EQ(names(windowUpdated(w, window(1, 10, "A", {0, 0, 100, 100}, true))),
            Names{"AXWindowMiniaturized"});
  // The manager parks the frame of a minimized window somewhere: not a move.
  EXPECT_TRUE(windowUpdated(w, window(1, 10, "A", {-9999, 0, 100, 100}, true)).empty());
  auto hidden = windowUpdated(w, window(2, 10, "B", {0, 0, 100, 100}, true));
  ASSERT_EQ(names(hidden), (Names{"AXWindowMiniaturized", "AXApplicationHidden"}));
  EXPECT_TRUE(hidden[1].ofApplication);
  EXPECT_TRUE(applicationHidden(w, 10));
  EXPECT_EQ(names(windowUpdated(w, window(2, 10, "B", {0, 0, 100, 100}))),
            (Names{"AXApplicationShown", "AXWindowDeminiaturized"}));
  // Restored where it was minimized from: no move.
  EXPECT_EQ(names(windowUpdated(w, window(1, 10, "A", {0, 0, 100, 100}))),
            Names{"AXWindowDeminiaturized"});
}

TEST(WindowChangeRulesTest, FocusChangesOnlyWhenTheApplicationsOwnFocusedWindowChanges) {
  WatchedWindows w;
  w.active = 1;
  trackWindow(w, window(1, 10, "A", {0, 0, 100, 100}));
  trackWindow(w, window(2, 10, "B", {0, 0, 100, 100}));
  EXPECT_TRUE(activeWindowChanged(w, 1).empty());
  auto focused = activeWindowChanged(w, 2);
  ASSERT_EQ(names(focused), (Names{"AXFocusedWindowChanged", "AXMainWindowChanged"}));
  EXPECT_EQ(focused[0].title, "B");
  // Away to another application and back to the same window: its focused window never changed.
  EXPECT_TRUE(activeWindowChanged(w, 99).empty());
  EXPECT_TRUE(activeWindowChanged(w, 2).empty());
  EXPECT_EQ(activeWindowChanged(w, 1).size(), 2u);
}

TEST(WindowChangeRulesTest, NewWindowsAreCreatedOnceAndFocusedInEitherOrderOfTheManager) {
  WatchedWindows w;
  auto created = windowCreated(w, window(5, 10, "New", {0, 0, 10, 10}));
  EXPECT_EQ(names(created), Names{"AXWindowCreated"});
  EXPECT_EQ(created[0].title, "New");
  EXPECT_EQ(names(activeWindowChanged(w, 5)),
            (Names{"AXFocusedWindowChanged", "AXMainWindowChanged"}));
  // Listed again (a client list change that names it once more): nothing new.
  EXPECT_TRUE(windowCreated(w, window(5, 10, "New", {0, 0, 10, 10})).empty());

  // Activated before the manager listed it.
  EXPECT_TRUE(activeWindowChanged(w, 6).empty());
  EXPECT_EQ(names(windowCreated(w, window(6, 10, "Dialog", {0, 0, 10, 10}))),
            (Names{"AXWindowCreated", "AXFocusedWindowChanged", "AXMainWindowChanged"}));
}

TEST(WindowChangeRulesTest, AGoneWindowIsDestroyedOnceWithoutATitle) {
  WatchedWindows w;
  w.active = 1;
  trackWindow(w, window(1, 10, "A", {0, 0, 100, 100}));
  auto gone = windowGone(w, 1);
  ASSERT_EQ(names(gone), Names{"AXUIElementDestroyed"});
  EXPECT_EQ(gone[0].title, "");
  EXPECT_EQ(gone[0].pid, 10);
  // The destroy event and the client list change both say so.
  EXPECT_TRUE(windowGone(w, 1).empty());
  EXPECT_TRUE(windowUpdated(w, window(1, 10, "A", {5, 5, 100, 100})).empty());
  // A window that reuses the id is a new one, focused anew.
  EXPECT_EQ(names(windowCreated(w, window(1, 10, "A", {0, 0, 100, 100}))),
            (Names{"AXWindowCreated", "AXFocusedWindowChanged", "AXMainWindowChanged"}));
}

}  // namespace
}  // namespace tavren::watch
