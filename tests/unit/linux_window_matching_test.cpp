// Pairing accessible windows with X windows, as measured on openbox + GTK 3: a decorated window's
// accessible extents are its frame (client grown by _NET_FRAME_EXTENTS 1, 1, 20, 5), a
// client-side decorated one's are the client itself.
#include <gtest/gtest.h>

#include <climits>

#include "platform/linux/windows/window_matching.h"

namespace tavren::appwindows {
namespace {

AccessibleWindow accessible(std::string name, std::optional<Rect> extents, uint64_t states = 0) {
  AccessibleWindow w;
  w.name = std::move(name);
  w.role = 23;  // frame
  w.states = states;
  if (extents) {
    setExtents(w, int32_t(extents->x), int32_t(extents->y), int32_t(extents->width),
               int32_t(extents->height));
  }
  return w;
}

ClientWindow client(uint32_t id, std::string title, Rect bounds, bool decorated = true) {
  ClientWindow c;
  c.id = id;
  c.title = std::move(title);
  c.bounds = bounds;
  c.managed = true;
  if (decorated) c.frame = withFrameExtents(bounds, 1, 1, 20, 5);
  return c;
}

std::vector<std::optional<size_t>> match(const std::vector<AccessibleWindow>& a,
                                         const std::vector<ClientWindow>& c) {
  return matchAccessibleWindows(a, c);
}

using Matches = std::vector<std::optional<size_t>>;

TEST(LinuxWindowMatching, FrameOrClientRectanglePairsWindowsWhateverTheTitles) {
  std::vector<ClientWindow> clients = {client(0xa00003, "Probe", {1, 20, 400, 300}),
                                       client(0x400007, "gtk3-widget-factory",
                                              {277, 169, 1366, 741}, false),
                                       client(0x800003, "Probe", {1, 875, 300, 200})};
  // Two windows share a title; the extents tell them apart. The CSD window has no accessible name.
  std::vector<AccessibleWindow> windows = {accessible("Probe", Rect{0, 855, 302, 225}),
                                           accessible("", Rect{277, 169, 1366, 741}),
                                           accessible("Probe", Rect{0, 0, 402, 325})};
  EXPECT_EQ(match(windows, clients), (Matches{2, 1, 0}));
}

TEST(LinuxWindowMatching, SizeThenTitleWhenThePositionIsUnknown) {
  std::vector<ClientWindow> clients = {client(1, "A", {1, 20, 400, 300}),
                                       client(2, "B", {1, 20, 300, 200})};
  AccessibleWindow hidden = accessible("B", std::nullopt);
  setExtents(hidden, INT32_MIN, INT32_MIN, 402, 325);  // not drawable: size only, A's frame
  EXPECT_FALSE(hidden.position);
  // Size outranks the title: the accessible name may be stale, the frame size is not.
  EXPECT_EQ(match({hidden}, clients), (Matches{0}));

  AccessibleWindow sizeless = accessible("B", std::nullopt);
  EXPECT_EQ(match({sizeless}, clients), (Matches{1}));
}

TEST(LinuxWindowMatching, EachXWindowServesOneAccessibleWindowAndLeftoversPairOnlyOneToOne) {
  std::vector<ClientWindow> clients = {client(1, "Same", {0, 20, 100, 100}),
                                       client(2, "Same", {0, 20, 100, 100})};
  std::vector<AccessibleWindow> windows = {accessible("Same", Rect{-1, 0, 102, 125}),
                                           accessible("Same", Rect{-1, 0, 102, 125})};
  EXPECT_EQ(match(windows, clients), (Matches{0, 1}));

  // Nothing in common, but one on each side: the process alone pairs them.
  EXPECT_EQ(match({accessible("x", Rect{5, 5, 50, 50})}, {client(9, "y", {500, 500, 10, 10})}),
            (Matches{0}));
  // Two unknowns against two: no guessing.
  std::vector<AccessibleWindow> strangers = {accessible("x", Rect{5, 5, 50, 50}),
                                             accessible("z", Rect{6, 6, 60, 60})};
  std::vector<ClientWindow> others = {client(8, "y", {500, 500, 10, 10}),
                                      client(9, "w", {600, 600, 10, 10})};
  EXPECT_EQ(match(strangers, others), (Matches{std::nullopt, std::nullopt}));
  EXPECT_EQ(match(strangers, {}), (Matches{std::nullopt, std::nullopt}));
}

TEST(LinuxWindowMatching, PairedWindowsTakeFrameAndMinimizingFromX) {
  ClientWindow minimized = client(0xa00003, "Probe A", {1, 20, 400, 300});
  minimized.iconic = true;
  ClientWindow shown = client(0x400007, "gtk3-widget-factory", {277, 169, 1366, 741}, false);
  // The toolkit has not caught up: it still says the first window is shown and active.
  std::vector<AccessibleWindow> windows = {
      accessible("Probe A", Rect{0, 0, 402, 325}, 1ull << ATSPI_STATE_ACTIVE),
      accessible("", Rect{277, 169, 1366, 741},
                 1ull << ATSPI_STATE_ACTIVE | 1ull << ATSPI_STATE_ICONIFIED),
      accessible("Orphan", Rect{10, 10, 50, 60}, 1ull << ATSPI_STATE_ICONIFIED)};
  std::vector<PairedWindow> paired = pairedWindows(windows, std::vector{minimized, shown});
  ASSERT_EQ(paired.size(), 3u);

  EXPECT_EQ(paired[0].xWindow, 0xa00003u);
  EXPECT_TRUE(paired[0].record.minimized);
  EXPECT_TRUE(paired[0].record.focused);
  EXPECT_EQ(paired[0].record.position->x, 1);
  EXPECT_EQ(paired[0].record.position->y, 20);
  EXPECT_EQ(paired[0].record.size->width, 400);
  EXPECT_EQ(paired[0].record.role, "AXWindow");

  EXPECT_EQ(paired[1].record.title, "gtk3-widget-factory");  // no accessible name: X title
  EXPECT_FALSE(paired[1].record.minimized);
  EXPECT_FALSE(paired[1].record.focused);  // one focused window per application

  // Not paired: the toolkit's own word.
  EXPECT_EQ(paired[2].xWindow, 0u);
  EXPECT_TRUE(paired[2].record.minimized);
  EXPECT_EQ(paired[2].record.size->height, 60);
}

TEST(LinuxWindowMatching, HiddenMeansEveryManagedWindowMinimized) {
  ClientWindow a = client(1, "a", {0, 0, 10, 10});
  ClientWindow b = client(2, "b", {0, 0, 10, 10});
  ClientWindow menu = client(3, "", {0, 0, 10, 10});
  menu.managed = false;
  a.iconic = true;
  EXPECT_FALSE(everyWindowMinimized(std::vector{a, b}));
  b.iconic = true;
  EXPECT_TRUE(everyWindowMinimized(std::vector{a, b, menu}));  // pop-ups do not count
  EXPECT_FALSE(everyWindowMinimized(std::vector{menu}));
  EXPECT_FALSE(everyWindowMinimized(std::vector<ClientWindow>{}));
}

}  // namespace
}  // namespace tavren::appwindows
