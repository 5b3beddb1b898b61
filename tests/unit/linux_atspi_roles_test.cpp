// The AT-SPI role and action vocabulary mapped to the protocol's.
#include <gtest/gtest.h>

#include "platform/linux/atspi/atspi_roles.h"

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

TEST(AtspiRoles, ActionNames) {
  using V = std::vector<std::string>;
  EXPECT_EQ(protocolActionNames(V{"activate", "click"}), (V{"activate", "AXPress"}));
  EXPECT_EQ(protocolActionNames(V{"toggle", "popup"}), (V{"AXPress", "AXShowMenu"}));
  EXPECT_EQ(protocolActionNames(V{"expand or contract", "activate", "activate"}),
            (V{"expand or contract", "AXPress", "activate"}));
  EXPECT_EQ(protocolActionNames(V{}), V{});
}

}  // namespace
}  // namespace tavren::atspi
