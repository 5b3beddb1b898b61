#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/x11/client_pids.h"
#include "platform/linux/x11/text_property.h"
#include "platform/linux/x11/window_layer.h"

namespace tavren::x11 {
namespace {

int32_t layerOf(std::vector<Atom> types, bool overrideRedirect = false, bool above = false) {
  return windowLayer(types, overrideRedirect, above);
}

TEST(LinuxWindowLayer, ManagedWindowsByType) {
  EXPECT_EQ(layerOf({}), 0);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_NORMAL}), 0);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DIALOG}), 0);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_UTILITY}), 0);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DOCK}), 20);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DESKTOP}), -2147483623);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_NOTIFICATION}), 101);
}

TEST(LinuxWindowLayer, KeptAboveRaisesOnlyOrdinaryWindows) {
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_NORMAL}, false, true), 3);
  EXPECT_EQ(layerOf({}, false, true), 3);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DOCK}, false, true), 20);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DESKTOP}, false, true), -2147483623);
}

TEST(LinuxWindowLayer, OverrideRedirectWindowsArePopups) {
  for (Atom type : {Atom::_NET_WM_WINDOW_TYPE_POPUP_MENU, Atom::_NET_WM_WINDOW_TYPE_DROPDOWN_MENU,
                    Atom::_NET_WM_WINDOW_TYPE_TOOLTIP, Atom::_NET_WM_WINDOW_TYPE_COMBO,
                    Atom::_NET_WM_WINDOW_TYPE_NORMAL}) {
    EXPECT_EQ(layerOf({type}, true), 101);
  }
  EXPECT_EQ(layerOf({}, true), 101);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DOCK}, true), 20);
}

TEST(LinuxWindowLayer, FirstKnownTypeDecides) {
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_DOCK, Atom::_NET_WM_WINDOW_TYPE_NORMAL}), 20);
  EXPECT_EQ(layerOf({Atom::_NET_WM_WINDOW_TYPE_NORMAL, Atom::_NET_WM_WINDOW_TYPE_DOCK}), 0);
}

TEST(LinuxWindowLayer, EveryWindowTypeAtomHasALayer) {
  size_t types = 0;
  for (size_t i = 0; i < kAtomCount; ++i) {
    if (!kAtomNames[i].starts_with("_NET_WM_WINDOW_TYPE_")) continue;
    ++types;
    bool listed = false;
    for (const LayerRule& rule : kLayerByType) listed |= rule.type == static_cast<Atom>(i);
    EXPECT_TRUE(listed) << kAtomNames[i];
  }
  EXPECT_EQ(types, std::size(kLayerByType));
}

TEST(LinuxTextProperty, TitlesBecomeValidUtf8) {
  EXPECT_EQ(decodeText("Caf\xc3\xa9", TextEncoding::Utf8), "Caf\xc3\xa9");
  EXPECT_EQ(decodeText("Caf\xe9", TextEncoding::Latin1), "Caf\xc3\xa9");
  EXPECT_EQ(decodeText("bad \xff end", TextEncoding::Utf8), "bad \xef\xbf\xbd end");
  EXPECT_EQ(decodeText(std::string("title\0", 6), TextEncoding::Utf8), "title");
  EXPECT_EQ(decodeText(std::string("a\0b", 3), TextEncoding::Utf8), "a b");
  EXPECT_EQ(decodeText(std::string("a\0b", 3), TextEncoding::Latin1), "a b");
  // Compound text keeps its Latin-1 text and drops the character set switches.
  EXPECT_EQ(decodeText("\x1b-Aabc\xe9\x1b(B!", TextEncoding::CompoundText), "abc\xc3\xa9!");
  EXPECT_EQ(decodeText("\x1b$", TextEncoding::CompoundText), "");
}

TEST(LinuxTextProperty, WmClassHasInstanceThenClass) {
  WmClass both = splitWmClass(std::string("gtk3-demo\0Gtk3-demo\0", 20));
  EXPECT_EQ(both.instance, "gtk3-demo");
  EXPECT_EQ(both.className, "Gtk3-demo");
  WmClass unterminated = splitWmClass(std::string("a\0B", 3));
  EXPECT_EQ(unterminated.className, "B");
  WmClass onlyInstance = splitWmClass("lonely");
  EXPECT_EQ(onlyInstance.instance, "lonely");
  EXPECT_EQ(onlyInstance.className, "");
  EXPECT_EQ(splitWmClass("").className, "");
}

TEST(LinuxWindowPid, ServerAnswerWinsThenLocalNetWmPid) {
  EXPECT_EQ(chooseWindowPid(100, 200, "elsewhere", "here"), 100);
  EXPECT_EQ(chooseWindowPid(0, 200, "", "here"), 200);
  EXPECT_EQ(chooseWindowPid(0, 200, "here", "here"), 200);
  EXPECT_EQ(chooseWindowPid(0, 200, "here.example.org", "here"), 200);
  EXPECT_EQ(chooseWindowPid(0, 200, "here", "here.example.org"), 200);
  EXPECT_EQ(chooseWindowPid(0, 200, "localhost", "here"), 200);
  // A pid from another machine would name an unrelated local process.
  EXPECT_EQ(chooseWindowPid(0, 200, "elsewhere", "here"), 0);
  EXPECT_EQ(chooseWindowPid(0, 200, "hereafter", "here"), 0);
  EXPECT_EQ(chooseWindowPid(0, 0, "", "here"), 0);
  EXPECT_EQ(chooseWindowPid(0, -4, "", "here"), 0);
}

}  // namespace
}  // namespace tavren::x11
