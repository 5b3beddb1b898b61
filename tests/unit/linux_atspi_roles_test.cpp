// The AT-SPI role and action vocabulary mapped to the protocol's.
#include <gtest/gtest.h>

#include <limits>

#include "platform/linux/atspi/accessible_scroll.h"
#include "platform/linux/atspi/atspi_roles.h"
#include "platform/linux/atspi/toolkit_traits.h"

namespace tavren::atspi {
namespace {

std::pair<std::string, std::string> role(uint32_t atspi, uint64_t states = 0, bool top = false) {
  ProtocolRole r = protocolRole(atspi, states, top);
  return {std::string(r.role), std::string(r.subrole)};
}

using Pair = std::pair<std::string, std::string>;

TEST(AtspiRoles, StatesAndPlaceDecideSomeRoles) {
  EXPECT_EQ(role(ATSPI_ROLE_PASSWORD_TEXT), (Pair{"AXTextField", "AXSecureTextField"}));
  EXPECT_EQ(role(ATSPI_ROLE_TEXT), (Pair{"AXTextField", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_TEXT, uint64_t{1} << ATSPI_STATE_MULTI_LINE), (Pair{"AXTextArea", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_TOGGLE_BUTTON), (Pair{"AXCheckBox", "AXToggle"}));
  EXPECT_EQ(role(ATSPI_ROLE_FRAME, 0, true), (Pair{"AXWindow", "AXStandardWindow"}));
  EXPECT_EQ(role(ATSPI_ROLE_DIALOG, 0, true), (Pair{"AXWindow", "AXDialog"}));
  EXPECT_EQ(role(ATSPI_ROLE_FRAME, 0, false),
            (Pair{"AXGroup", ""}));  // a frame inside something is no window
  EXPECT_EQ(role(ATSPI_ROLE_PUSH_BUTTON, 0, true),
            (Pair{"AXButton", ""}));  // a top-level button stays a button
}

TEST(AtspiRoles, TableAndFallback) {
  EXPECT_EQ(role(ATSPI_ROLE_PUSH_BUTTON), (Pair{"AXButton", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_LABEL), (Pair{"AXStaticText", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_MENU), (Pair{"AXMenu", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_MENU_ITEM), (Pair{"AXMenuItem", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_COMBO_BOX), (Pair{"AXComboBox", ""}));
  EXPECT_EQ(role(ATSPI_ROLE_PAGE_TAB), (Pair{"AXRadioButton", "AXTabButton"}));
  EXPECT_EQ(role(ATSPI_ROLE_INVALID), (Pair{"AXUnknown", ""}));
  EXPECT_EQ(role(67), (Pair{"AXUnknown", ""}));
  EXPECT_EQ(role(100000), (Pair{"AXUnknown", ""}));
  EXPECT_TRUE(isWindowRole(ATSPI_ROLE_WINDOW));
  EXPECT_FALSE(isWindowRole(ATSPI_ROLE_PUSH_BUTTON));
}

// Every role Qt 5's bridge and GTK 4's give (their role tables, AT-SPI numbers) has a protocol
// role of its own, never the fallback.
TEST(AtspiRoles, EveryRoleOfQtAndGtk4IsKnown) {
  const uint32_t qt5[] = {61, 34, 48, 2,  23, 20, 41, 35, 64, 82, 39, 80, 16, 50,
                          63, 54, 55, 57, 58, 90, 56, 88, 31, 32, 65, 37, 27, 29,
                          43, 7,  44, 11, 42, 15, 51, 52, 6,  3,  38, 53, 30, 95,
                          73, 85, 9,  72, 87, 83, 97, 60, 14, 101, 40};
  const uint32_t gtk4[] = {79, 61, 103, 8, 45, 62, 66, 91, 98, 10, 47, 94, 81, 115,
                           33, 23, 39,  20, 29};
  for (uint32_t r : qt5) EXPECT_NE(role(r).first, "AXUnknown") << "Qt 5 role " << r;
  for (uint32_t r : gtk4) EXPECT_NE(role(r).first, "AXUnknown") << "GTK 4 role " << r;
}

TEST(AtspiRoles, PopupHoldingAMenuIsNoWindow) {
  const uint32_t menu[] = {33}, button[] = {43}, two[] = {33, 33};
  EXPECT_TRUE(isMenuHolder(69, menu));    // GTK 3 context menu: "window" around a menu
  EXPECT_FALSE(isMenuHolder(23, menu));   // a frame with only a menu is still a window
  EXPECT_FALSE(isMenuHolder(69, button));
  EXPECT_FALSE(isMenuHolder(69, two));
  EXPECT_FALSE(isMenuHolder(69, {}));
  EXPECT_TRUE(mayHoldMenu(69));
  EXPECT_FALSE(mayHoldMenu(23));
}

// Each toolkit gets the call shapes it takes; anything unknown gets those every toolkit takes.
TEST(ToolkitTraits, CallShapesPerToolkit) {
  EXPECT_FALSE(toolkitTraits("Qt", "5.15.8").answersGetAll);  // crashes on GetAll
  EXPECT_FALSE(toolkitTraits("Qt", "6.4.2").answersGetAll);
  EXPECT_TRUE(toolkitTraits("gtk", "3.24.38").answersGetAll);
  EXPECT_FALSE(toolkitTraits("gtk", "3.24.38").windowRelativeExtents);
  EXPECT_TRUE(toolkitTraits("GTK", "4.8.3").answersGetAll);
  EXPECT_TRUE(toolkitTraits("GTK", "4.8.3").windowRelativeExtents);
  EXPECT_FALSE(toolkitTraits("GTK", "3.24.38").windowRelativeExtents);
  EXPECT_EQ(wholeTextEnd(toolkitTraits("GTK", "4.8.3")), INT32_MAX);  // clamps -1 to nothing
  EXPECT_EQ(wholeTextEnd(toolkitTraits("gtk", "3.24.38")), -1);
  EXPECT_EQ(wholeTextEnd(toolkitTraits("Qt", "5.15.8")), -1);
  EXPECT_TRUE(toolkitTraits("GTK", "4.8.3").selectsByAdding);
  EXPECT_FALSE(toolkitTraits("gtk", "3.24.38").selectsByAdding);
  EXPECT_FALSE(toolkitTraits("", "").answersGetAll);  // did not say
  EXPECT_FALSE(toolkitTraits("SomeToolkit", "1.0").answersGetAll);
  // Only Qt is known to drop synthetic wheel presses; an unknown toolkit gets wheel events.
  EXPECT_TRUE(toolkitTraits("Qt", "5.15.8").ignoresSyntheticWheel);
  EXPECT_FALSE(toolkitTraits("gtk", "3.24.38").ignoresSyntheticWheel);
  EXPECT_FALSE(toolkitTraits("", "").ignoresSyntheticWheel);
}

// Scrolling through a scroll bar in place of wheel clicks: three single steps a click, toward
// the top lowering the value, within the bar's range.
TEST(AccessibleScroll, ValueForWheelClicks) {
  const ScrollBarValue bar{.current = 100, .minimum = 0, .maximum = 1082, .increment = 20};
  EXPECT_EQ(scrolledValue(bar, -3), 280);  // down three clicks: 9 steps of 20
  EXPECT_EQ(scrolledValue(bar, 1), 40);
  EXPECT_EQ(scrolledValue(bar, 2), 0);     // clamped at the top
  EXPECT_EQ(scrolledValue(bar, -100), 1082);
  EXPECT_EQ(scrolledValue({.current = 5, .minimum = 0, .maximum = 10, .increment = 0}, -1), 8);
  EXPECT_EQ(scrolledValue(bar, std::numeric_limits<int32_t>::min()), 1082);
}

TEST(AccessibleScroll, OrientationFromStatesElseShape) {
  using E = std::optional<std::array<int32_t, 4>>;
  const uint64_t vertical = uint64_t{1} << ATSPI_STATE_VERTICAL;
  const uint64_t horizontal = uint64_t{1} << ATSPI_STATE_HORIZONTAL;
  EXPECT_EQ(scrollBarAxis(vertical, std::nullopt), ScrollAxis::Vertical);
  EXPECT_EQ(scrollBarAxis(horizontal, E{{0, 0, 10, 300}}), ScrollAxis::Horizontal);
  // Qt 5 sets neither state: a bar taller than wide is vertical.
  EXPECT_EQ(scrollBarAxis(0, E{{1186, 283, 14, 569}}), ScrollAxis::Vertical);
  EXPECT_EQ(scrollBarAxis(0, E{{402, 840, 784, 14}}), ScrollAxis::Horizontal);
  EXPECT_EQ(scrollBarAxis(0, E{{0, 0, 0, 0}}), std::nullopt);  // hidden
  EXPECT_EQ(scrollBarAxis(0, std::nullopt), std::nullopt);
}

TEST(AtspiRoles, ActionNames) {
  using V = std::vector<std::string>;
  EXPECT_EQ(protocolActionNames(V{"activate", "click"}), (V{"activate", "AXPress"}));
  EXPECT_EQ(protocolActionNames(V{"toggle", "popup"}), (V{"AXPress", "AXShowMenu"}));
  EXPECT_EQ(protocolActionNames(V{"expand or contract", "activate", "activate"}),
            (V{"expand or contract", "AXPress", "activate"}));
  EXPECT_EQ(protocolActionNames(V{}), V{});
  // GTK 4: a button, a switch, an entry with an icon, a label's own actions.
  EXPECT_EQ(protocolActionNames(V{"click"}), V{"AXPress"});
  EXPECT_EQ(protocolActionNames(V{"toggle"}), V{"AXPress"});
  EXPECT_EQ(protocolActionNames(V{"activate", "activate-primary-icon"}),
            (V{"AXPress", "activate-primary-icon"}));
  EXPECT_EQ(protocolActionNames(V{"clipboard.copy", "menu.popup", "selection.select-all"}),
            (V{"clipboard.copy", "AXShowMenu", "selection.select-all"}));
}

}  // namespace
}  // namespace tavren::atspi
