#include "platform/linux/atspi/atspi_roles.h"

#include <atspi/atspi-constants.h>

#include <array>

namespace tavren::atspi {
namespace {

struct RoleRow {
  uint32_t atspi;
  ProtocolRole protocol;
};

// Every AT-SPI role with a Mac counterpart. Roles that only group others are "AXGroup"; roles
// with no counterpart at all fall back to kUnknownRole. Roles decided by state (text fields,
// toggles) and top-level windows are handled in protocolRole before this table.
constexpr auto kRoleTable = std::to_array<RoleRow>({
    {ATSPI_ROLE_ACCELERATOR_LABEL, {"AXStaticText", ""}},
    {ATSPI_ROLE_ALERT, {"AXGroup", ""}},
    {ATSPI_ROLE_ANIMATION, {"AXImage", ""}},
    {ATSPI_ROLE_ARROW, {"AXImage", ""}},
    {ATSPI_ROLE_CALENDAR, {"AXGroup", ""}},
    {ATSPI_ROLE_CANVAS, {"AXGroup", ""}},
    {ATSPI_ROLE_CHECK_BOX, {"AXCheckBox", ""}},
    {ATSPI_ROLE_CHECK_MENU_ITEM, {"AXMenuItem", ""}},
    {ATSPI_ROLE_COLOR_CHOOSER, {"AXColorWell", ""}},
    {ATSPI_ROLE_COLUMN_HEADER, {"AXButton", "AXSortButton"}},
    {ATSPI_ROLE_COMBO_BOX, {"AXComboBox", ""}},
    {ATSPI_ROLE_DATE_EDITOR, {"AXDateField", ""}},
    {ATSPI_ROLE_DESKTOP_ICON, {"AXImage", ""}},
    {ATSPI_ROLE_DESKTOP_FRAME, {"AXGroup", ""}},
    {ATSPI_ROLE_DIAL, {"AXSlider", ""}},
    {ATSPI_ROLE_DIALOG, {"AXGroup", ""}},
    {ATSPI_ROLE_DIRECTORY_PANE, {"AXGroup", ""}},
    {ATSPI_ROLE_DRAWING_AREA, {"AXGroup", ""}},
    {ATSPI_ROLE_FILE_CHOOSER, {"AXGroup", ""}},
    {ATSPI_ROLE_FILLER, {"AXGroup", ""}},
    {ATSPI_ROLE_FONT_CHOOSER, {"AXGroup", ""}},
    {ATSPI_ROLE_FRAME, {"AXGroup", ""}},
    {ATSPI_ROLE_GLASS_PANE, {"AXGroup", ""}},
    {ATSPI_ROLE_HTML_CONTAINER, {"AXGroup", ""}},
    {ATSPI_ROLE_ICON, {"AXImage", ""}},
    {ATSPI_ROLE_IMAGE, {"AXImage", ""}},
    {ATSPI_ROLE_INTERNAL_FRAME, {"AXGroup", ""}},
    {ATSPI_ROLE_LABEL, {"AXStaticText", ""}},
    {ATSPI_ROLE_LAYERED_PANE, {"AXGroup", ""}},
    {ATSPI_ROLE_LIST, {"AXList", ""}},
    {ATSPI_ROLE_LIST_ITEM, {"AXGroup", ""}},
    {ATSPI_ROLE_MENU, {"AXMenu", ""}},
    {ATSPI_ROLE_MENU_BAR, {"AXMenuBar", ""}},
    {ATSPI_ROLE_MENU_ITEM, {"AXMenuItem", ""}},
    {ATSPI_ROLE_OPTION_PANE, {"AXGroup", ""}},
    {ATSPI_ROLE_PAGE_TAB, {"AXRadioButton", "AXTabButton"}},
    {ATSPI_ROLE_PAGE_TAB_LIST, {"AXTabGroup", ""}},
    {ATSPI_ROLE_PANEL, {"AXGroup", ""}},
    {ATSPI_ROLE_POPUP_MENU, {"AXMenu", ""}},
    {ATSPI_ROLE_PROGRESS_BAR, {"AXProgressIndicator", ""}},
    {ATSPI_ROLE_PUSH_BUTTON, {"AXButton", ""}},
    {ATSPI_ROLE_RADIO_BUTTON, {"AXRadioButton", ""}},
    {ATSPI_ROLE_RADIO_MENU_ITEM, {"AXMenuItem", ""}},
    {ATSPI_ROLE_ROOT_PANE, {"AXGroup", ""}},
    {ATSPI_ROLE_ROW_HEADER, {"AXCell", ""}},
    {ATSPI_ROLE_SCROLL_BAR, {"AXScrollBar", ""}},
    {ATSPI_ROLE_SCROLL_PANE, {"AXScrollArea", ""}},
    {ATSPI_ROLE_SEPARATOR, {"AXSplitter", ""}},
    {ATSPI_ROLE_SLIDER, {"AXSlider", ""}},
    {ATSPI_ROLE_SPIN_BUTTON, {"AXIncrementor", ""}},
    {ATSPI_ROLE_SPLIT_PANE, {"AXSplitGroup", ""}},
    {ATSPI_ROLE_STATUS_BAR, {"AXGroup", ""}},
    {ATSPI_ROLE_TABLE, {"AXTable", ""}},
    {ATSPI_ROLE_TABLE_CELL, {"AXCell", ""}},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, {"AXButton", "AXSortButton"}},
    {ATSPI_ROLE_TABLE_ROW_HEADER, {"AXCell", ""}},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, {"AXMenuItem", ""}},
    {ATSPI_ROLE_TERMINAL, {"AXTextArea", ""}},
    {ATSPI_ROLE_TOOL_BAR, {"AXToolbar", ""}},
    {ATSPI_ROLE_TOOL_TIP, {"AXHelpTag", ""}},
    {ATSPI_ROLE_TREE, {"AXOutline", ""}},
    {ATSPI_ROLE_TREE_TABLE, {"AXOutline", ""}},
    {ATSPI_ROLE_VIEWPORT, {"AXGroup", ""}},
    {ATSPI_ROLE_WINDOW, {"AXGroup", ""}},
    {ATSPI_ROLE_HEADER, {"AXGroup", ""}},
    {ATSPI_ROLE_FOOTER, {"AXGroup", ""}},
    {ATSPI_ROLE_PARAGRAPH, {"AXGroup", ""}},
    {ATSPI_ROLE_RULER, {"AXRuler", ""}},
    {ATSPI_ROLE_APPLICATION, {"AXApplication", ""}},
    {ATSPI_ROLE_AUTOCOMPLETE, {"AXComboBox", ""}},
    {ATSPI_ROLE_EDITBAR, {"AXTextField", ""}},
    {ATSPI_ROLE_EMBEDDED, {"AXGroup", ""}},
    {ATSPI_ROLE_ENTRY, {"AXTextField", ""}},
    {ATSPI_ROLE_CHART, {"AXImage", ""}},  // Qt 5's charts
    {ATSPI_ROLE_CAPTION, {"AXStaticText", ""}},
    {ATSPI_ROLE_DOCUMENT_FRAME, {"AXGroup", ""}},
    {ATSPI_ROLE_HEADING, {"AXHeading", ""}},
    {ATSPI_ROLE_PAGE, {"AXGroup", ""}},
    {ATSPI_ROLE_SECTION, {"AXGroup", ""}},
    {ATSPI_ROLE_FORM, {"AXGroup", ""}},
    {ATSPI_ROLE_LINK, {"AXLink", ""}},
    {ATSPI_ROLE_TABLE_ROW, {"AXRow", ""}},
    {ATSPI_ROLE_TREE_ITEM, {"AXRow", "AXOutlineRow"}},
    {ATSPI_ROLE_DOCUMENT_SPREADSHEET, {"AXGroup", ""}},
    {ATSPI_ROLE_DOCUMENT_PRESENTATION, {"AXGroup", ""}},
    {ATSPI_ROLE_DOCUMENT_TEXT, {"AXTextArea", ""}},
    {ATSPI_ROLE_DOCUMENT_WEB, {"AXWebArea", ""}},
    {ATSPI_ROLE_DOCUMENT_EMAIL, {"AXGroup", ""}},
    {ATSPI_ROLE_COMMENT, {"AXGroup", ""}},
    {ATSPI_ROLE_LIST_BOX, {"AXList", ""}},
    {ATSPI_ROLE_GROUPING, {"AXGroup", ""}},
    {ATSPI_ROLE_IMAGE_MAP, {"AXImage", ""}},
    {ATSPI_ROLE_NOTIFICATION, {"AXGroup", ""}},
    {ATSPI_ROLE_INFO_BAR, {"AXGroup", ""}},
    {ATSPI_ROLE_LEVEL_BAR, {"AXLevelIndicator", ""}},
    {ATSPI_ROLE_TITLE_BAR, {"AXGroup", ""}},
    {ATSPI_ROLE_BLOCK_QUOTE, {"AXGroup", ""}},
    {ATSPI_ROLE_TIMER, {"AXStaticText", ""}},  // GTK 4's timers: a time shown
    {ATSPI_ROLE_STATIC, {"AXStaticText", ""}},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, {"AXMenuButton", ""}},
});

// Top-level windows: the kinds of window, for their subrole.
struct WindowRow {
  uint32_t atspi;
  std::string_view subrole;
};
constexpr auto kWindowTable = std::to_array<WindowRow>({
    {ATSPI_ROLE_FRAME, "AXStandardWindow"},
    {ATSPI_ROLE_DIALOG, "AXDialog"},
    {ATSPI_ROLE_ALERT, "AXDialog"},
    {ATSPI_ROLE_FILE_CHOOSER, "AXDialog"},
    {ATSPI_ROLE_COLOR_CHOOSER, "AXDialog"},
    {ATSPI_ROLE_FONT_CHOOSER, "AXDialog"},
    {ATSPI_ROLE_WINDOW, ""},  // pop-up and other undecorated windows
    // Qt 5 gives a top-level widget that is neither a main window nor a dialog the role of its
    // content (measured: the lineedits example's window is a filler).
    {ATSPI_ROLE_FILLER, "AXStandardWindow"},
    {ATSPI_ROLE_PANEL, "AXStandardWindow"},
});

constexpr bool tableSorted() {
  for (size_t i = 1; i < kRoleTable.size(); ++i) {
    if (kRoleTable[i - 1].atspi >= kRoleTable[i].atspi) return false;
  }
  return true;
}
static_assert(tableSorted(), "one row per role, in AtspiRole order");

// The protocol's action names and the toolkits' names for them, each protocol name's rows in
// order of preference: an element's first listed name becomes the protocol name, the others
// stay as the toolkit gives them. Read from the running toolkits: GTK 3 ("click" on buttons,
// "press" and "activate" on others, "toggle" on toggles), Qt 5 ("Press" and "SetFocus" on
// buttons, "ShowMenu" and "Press" on combo boxes, "Toggle" on list items; "Increase" and
// "Decrease" are Qt's names for stepping), GTK 4 ("click" on buttons and toggle buttons,
// "toggle" on switches, "activate" on entries and expanders, the widget's own actions such as
// "menu.popup" (its context menu) on labels and text views; check buttons list none). GTK 4
// lists localized names through GetActions: names are read with GetName, which is not.
struct ActionRow {
  std::string_view protocol;
  std::string_view toolkit;
};
constexpr ActionRow kActionTable[] = {
    {"AXPress", "click"},         {"AXPress", "press"},        {"AXPress", "activate"},
    {"AXPress", "toggle"},        {"AXPress", "Press"},        {"AXPress", "Toggle"},
    {"AXShowMenu", "popup"},      {"AXShowMenu", "menu"},      {"AXShowMenu", "ShowMenu"},
    {"AXShowMenu", "menu.popup"}, {"AXIncrement", "Increase"}, {"AXDecrement", "Decrease"},
};

}  // namespace

bool isWindowRole(uint32_t atspiRole) {
  for (const WindowRow& row : kWindowTable) {
    if (row.atspi == atspiRole) return true;
  }
  return false;
}

bool isMenuHolder(uint32_t atspiRole, std::span<const uint32_t> childRoles) {
  return atspiRole == ATSPI_ROLE_WINDOW && childRoles.size() == 1 && childRoles[0] == ATSPI_ROLE_MENU;
}

bool mayHoldMenu(uint32_t atspiRole) { return atspiRole == ATSPI_ROLE_WINDOW; }

ProtocolRole protocolRole(uint32_t atspiRole, uint64_t states, bool topLevel) {
  if (topLevel) {
    for (const WindowRow& row : kWindowTable) {
      if (row.atspi == atspiRole) return {"AXWindow", row.subrole};
    }
  }
  switch (atspiRole) {
    case ATSPI_ROLE_PASSWORD_TEXT:
      return {"AXTextField", "AXSecureTextField"};
    case ATSPI_ROLE_TEXT:
      return {hasState(states, ATSPI_STATE_MULTI_LINE) ? "AXTextArea" : "AXTextField", ""};
    case ATSPI_ROLE_TOGGLE_BUTTON:
      return {"AXCheckBox", "AXToggle"};
    default:
      break;
  }
  for (const RoleRow& row : kRoleTable) {
    if (row.atspi == atspiRole) return row.protocol;
  }
  return kUnknownRole;
}

bool isToggleRole(uint32_t atspiRole) {
  return atspiRole == ATSPI_ROLE_CHECK_BOX || atspiRole == ATSPI_ROLE_CHECK_MENU_ITEM ||
         atspiRole == ATSPI_ROLE_RADIO_BUTTON || atspiRole == ATSPI_ROLE_RADIO_MENU_ITEM ||
         atspiRole == ATSPI_ROLE_TOGGLE_BUTTON;
}

bool isSteppedRole(uint32_t atspiRole) {
  return atspiRole == ATSPI_ROLE_SLIDER || atspiRole == ATSPI_ROLE_SPIN_BUTTON ||
         atspiRole == ATSPI_ROLE_SCROLL_BAR || atspiRole == ATSPI_ROLE_DIAL;
}

bool isSecretTextRole(uint32_t atspiRole) {
  return atspiRole == ATSPI_ROLE_PASSWORD_TEXT;
}

std::vector<std::string> protocolActionNames(std::span<const std::string> atspiActions) {
  std::vector<std::string> names(atspiActions.begin(), atspiActions.end());
  std::vector<bool> renamed(names.size());
  std::string_view done;  // the protocol name whose best toolkit name was found
  for (const ActionRow& row : kActionTable) {
    if (row.protocol == done) continue;
    for (size_t i = 0; i < atspiActions.size(); ++i) {
      if (renamed[i] || atspiActions[i] != row.toolkit) continue;
      names[i] = row.protocol;
      renamed[i] = true;
      done = row.protocol;
      break;
    }
  }
  return names;
}

}  // namespace tavren::atspi
