#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/linux/x11/client_pids.h"
#include "platform/linux/x11/text_property.h"
#include "platform/linux/x11/window_layer.h"
#include "platform/linux/x11/x_reply.h"

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

// A property reply as the server sends it: the value after the header, padded to whole words.
Reply<xcb_get_property_reply_t> propertyReply(xcb_atom_t type, uint8_t format,
                                              const std::string& value) {
  const size_t padded = (value.size() + 3) / 4 * 4;
  auto* reply = static_cast<xcb_get_property_reply_t*>(
      std::calloc(1, sizeof(xcb_get_property_reply_t) + padded));
  reply->response_type = 1;
  reply->format = format;
  reply->type = type;
  reply->length = static_cast<uint32_t>(padded / 4);
  reply->value_len = static_cast<uint32_t>(value.size() / (format / 8));
  std::memcpy(reply + 1, value.data(), value.size());
  return own(reply);
}

std::string words(std::initializer_list<uint32_t> values) {
  std::string bytes;
  for (uint32_t v : values) bytes.append(reinterpret_cast<const char*>(&v), 4);
  return bytes;
}

TEST(LinuxWindowProperties, DecodedOnlyWithTheTypeAndSizeTheyAreSpecifiedWith) {
  auto classes = [](const std::string& bytes) {
    return wmClassNames(propertyReply(XCB_ATOM_STRING, 8, bytes).get());
  };
  EXPECT_EQ(classes(std::string("gtk3-demo\0Gtk3-demo\0", 20)),
            std::make_pair(std::string("gtk3-demo"), std::string("Gtk3-demo")));
  EXPECT_EQ(classes(std::string("a\0B", 3)).second, "B");
  EXPECT_EQ(classes("lonely"), std::make_pair(std::string("lonely"), std::string()));
  EXPECT_EQ(classes(""), std::make_pair(std::string(), std::string()));
  EXPECT_EQ(wmClassNames(nullptr).first, "");

  EXPECT_EQ(wmPid(propertyReply(XCB_ATOM_CARDINAL, 32, words({4242})).get()), 4242u);
  // Another type, or more than one value, is no pid.
  EXPECT_EQ(wmPid(propertyReply(XCB_ATOM_INTEGER, 32, words({4242})).get()), 0u);
  EXPECT_EQ(wmPid(propertyReply(XCB_ATOM_CARDINAL, 32, words({1, 2})).get()), 0u);

  EXPECT_EQ(windowList(propertyReply(XCB_ATOM_WINDOW, 32, words({0x400001, 0x600003})).get()),
            (std::vector<xcb_window_t>{0x400001, 0x600003}));
  EXPECT_TRUE(windowList(propertyReply(XCB_ATOM_CARDINAL, 32, words({0x400001})).get()).empty());
  EXPECT_EQ(atomList(propertyReply(XCB_ATOM_ATOM, 32, words({301, 302})).get()),
            (std::vector<xcb_atom_t>{301, 302}));
  EXPECT_EQ(singleWindow(propertyReply(XCB_ATOM_WINDOW, 32, words({0x200004})).get()), 0x200004u);
  EXPECT_EQ(singleWindow(nullptr), static_cast<xcb_window_t>(XCB_WINDOW_NONE));

  auto extents = frameExtents(propertyReply(XCB_ATOM_CARDINAL, 32, words({1, 2, 30, 4})).get());
  ASSERT_TRUE(extents);
  EXPECT_EQ(*extents, (std::array<uint32_t, 4>{1, 2, 30, 4}));  // left, right, top, bottom
  EXPECT_FALSE(frameExtents(propertyReply(XCB_ATOM_CARDINAL, 32, words({1, 2, 3})).get()));
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
