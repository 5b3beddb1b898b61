#include "platform/linux/atspi/atspi_roles.h"

#include <array>

namespace tavren::atspi {
namespace {

// AtspiRole values (atspi-constants.h), named here so the table reads as data.
enum Role : uint32_t {
  kAcceleratorLabel = 1, kAlert = 2, kAnimation = 3, kArrow = 4, kCalendar = 5, kCanvas = 6,
  kCheckBox = 7, kCheckMenuItem = 8, kColorChooser = 9, kColumnHeader = 10, kComboBox = 11,
  kDateEditor = 12, kDesktopIcon = 13, kDesktopFrame = 14, kDial = 15, kDialog = 16,
  kDirectoryPane = 17, kDrawingArea = 18, kFileChooser = 19, kFiller = 20, kFontChooser = 22,
  kFrame = 23, kGlassPane = 24, kHtmlContainer = 25, kIcon = 26, kImage = 27,
  kInternalFrame = 28, kLabel = 29, kLayeredPane = 30, kList = 31, kListItem = 32, kMenu = 33,
  kMenuBar = 34, kMenuItem = 35, kOptionPane = 36, kPageTab = 37, kPageTabList = 38,
  kPanel = 39, kPasswordText = 40, kPopupMenu = 41, kProgressBar = 42, kPushButton = 43,
  kRadioButton = 44, kRadioMenuItem = 45, kRootPane = 46, kRowHeader = 47, kScrollBar = 48,
  kScrollPane = 49, kSeparator = 50, kSlider = 51, kSpinButton = 52, kSplitPane = 53,
  kStatusBar = 54, kTable = 55, kTableCell = 56, kTableColumnHeader = 57,
  kTableRowHeader = 58, kTearoffMenuItem = 59, kTerminal = 60, kText = 61,
  kToggleButton = 62, kToolBar = 63, kToolTip = 64, kTree = 65, kTreeTable = 66,
  kViewport = 68, kWindow = 69, kHeader = 71, kFooter = 72, kParagraph = 73, kRuler = 74,
  kApplication = 75, kAutocomplete = 76, kEditbar = 77, kEmbedded = 78, kEntry = 79,
  kChart = 80, kCaption = 81, kDocumentFrame = 82, kHeading = 83, kPage = 84, kSection = 85, kForm = 87,
  kLink = 88, kTableRow = 90, kTreeItem = 91, kDocumentSpreadsheet = 92,
  kDocumentPresentation = 93, kDocumentText = 94, kDocumentWeb = 95, kDocumentEmail = 96,
  kComment = 97, kListBox = 98, kGrouping = 99, kImageMap = 100, kNotification = 101,
  kInfoBar = 102, kLevelBar = 103, kTitleBar = 104, kBlockQuote = 105, kTimer = 115,
  kStatic = 116,
  kPushButtonMenu = 129,
};

struct RoleRow {
  uint32_t atspi;
  ProtocolRole protocol;
};

// Every AT-SPI role with a Mac counterpart. Roles that only group others are "AXGroup"; roles
// with no counterpart at all fall back to kUnknownRole. Roles decided by state (text fields,
// toggles) and top-level windows are handled in protocolRole before this table.
constexpr auto kRoleTable = std::to_array<RoleRow>({
    {kAcceleratorLabel, {"AXStaticText", ""}},
    {kAlert, {"AXGroup", ""}},
    {kAnimation, {"AXImage", ""}},
    {kArrow, {"AXImage", ""}},
    {kCalendar, {"AXGroup", ""}},
    {kCanvas, {"AXGroup", ""}},
    {kCheckBox, {"AXCheckBox", ""}},
    {kCheckMenuItem, {"AXMenuItem", ""}},
    {kColorChooser, {"AXColorWell", ""}},
    {kColumnHeader, {"AXButton", "AXSortButton"}},
    {kComboBox, {"AXComboBox", ""}},
    {kDateEditor, {"AXDateField", ""}},
    {kDesktopIcon, {"AXImage", ""}},
    {kDesktopFrame, {"AXGroup", ""}},
    {kDial, {"AXSlider", ""}},
    {kDialog, {"AXGroup", ""}},
    {kDirectoryPane, {"AXGroup", ""}},
    {kDrawingArea, {"AXGroup", ""}},
    {kFileChooser, {"AXGroup", ""}},
    {kFiller, {"AXGroup", ""}},
    {kFontChooser, {"AXGroup", ""}},
    {kFrame, {"AXGroup", ""}},
    {kGlassPane, {"AXGroup", ""}},
    {kHtmlContainer, {"AXGroup", ""}},
    {kIcon, {"AXImage", ""}},
    {kImage, {"AXImage", ""}},
    {kInternalFrame, {"AXGroup", ""}},
    {kLabel, {"AXStaticText", ""}},
    {kLayeredPane, {"AXGroup", ""}},
    {kList, {"AXList", ""}},
    {kListItem, {"AXGroup", ""}},
    {kMenu, {"AXMenu", ""}},
    {kMenuBar, {"AXMenuBar", ""}},
    {kMenuItem, {"AXMenuItem", ""}},
    {kOptionPane, {"AXGroup", ""}},
    {kPageTab, {"AXRadioButton", "AXTabButton"}},
    {kPageTabList, {"AXTabGroup", ""}},
    {kPanel, {"AXGroup", ""}},
    {kPopupMenu, {"AXMenu", ""}},
    {kProgressBar, {"AXProgressIndicator", ""}},
    {kPushButton, {"AXButton", ""}},
    {kRadioButton, {"AXRadioButton", ""}},
    {kRadioMenuItem, {"AXMenuItem", ""}},
    {kRootPane, {"AXGroup", ""}},
    {kRowHeader, {"AXCell", ""}},
    {kScrollBar, {"AXScrollBar", ""}},
    {kScrollPane, {"AXScrollArea", ""}},
    {kSeparator, {"AXSplitter", ""}},
    {kSlider, {"AXSlider", ""}},
    {kSpinButton, {"AXIncrementor", ""}},
    {kSplitPane, {"AXSplitGroup", ""}},
    {kStatusBar, {"AXGroup", ""}},
    {kTable, {"AXTable", ""}},
    {kTableCell, {"AXCell", ""}},
    {kTableColumnHeader, {"AXButton", "AXSortButton"}},
    {kTableRowHeader, {"AXCell", ""}},
    {kTearoffMenuItem, {"AXMenuItem", ""}},
    {kTerminal, {"AXTextArea", ""}},
    {kToolBar, {"AXToolbar", ""}},
    {kToolTip, {"AXHelpTag", ""}},
    {kTree, {"AXOutline", ""}},
    {kTreeTable, {"AXOutline", ""}},
    {kViewport, {"AXGroup", ""}},
    {kWindow, {"AXGroup", ""}},
    {kHeader, {"AXGroup", ""}},
    {kFooter, {"AXGroup", ""}},
    {kParagraph, {"AXGroup", ""}},
    {kRuler, {"AXRuler", ""}},
    {kApplication, {"AXApplication", ""}},
    {kAutocomplete, {"AXComboBox", ""}},
    {kEditbar, {"AXTextField", ""}},
    {kEmbedded, {"AXGroup", ""}},
    {kEntry, {"AXTextField", ""}},
    {kChart, {"AXImage", ""}},  // Qt 5's charts
    {kCaption, {"AXStaticText", ""}},
    {kDocumentFrame, {"AXGroup", ""}},
    {kHeading, {"AXHeading", ""}},
    {kPage, {"AXGroup", ""}},
    {kSection, {"AXGroup", ""}},
    {kForm, {"AXGroup", ""}},
    {kLink, {"AXLink", ""}},
    {kTableRow, {"AXRow", ""}},
    {kTreeItem, {"AXRow", "AXOutlineRow"}},
    {kDocumentSpreadsheet, {"AXGroup", ""}},
    {kDocumentPresentation, {"AXGroup", ""}},
    {kDocumentText, {"AXTextArea", ""}},
    {kDocumentWeb, {"AXWebArea", ""}},
    {kDocumentEmail, {"AXGroup", ""}},
    {kComment, {"AXGroup", ""}},
    {kListBox, {"AXList", ""}},
    {kGrouping, {"AXGroup", ""}},
    {kImageMap, {"AXImage", ""}},
    {kNotification, {"AXGroup", ""}},
    {kInfoBar, {"AXGroup", ""}},
    {kLevelBar, {"AXLevelIndicator", ""}},
    {kTitleBar, {"AXGroup", ""}},
    {kBlockQuote, {"AXGroup", ""}},
    {kTimer, {"AXStaticText", ""}},  // GTK 4's timers: a time shown
    {kStatic, {"AXStaticText", ""}},
    {kPushButtonMenu, {"AXMenuButton", ""}},
});

// Top-level windows: the kinds of window, for their subrole.
struct WindowRow {
  uint32_t atspi;
  std::string_view subrole;
};
constexpr auto kWindowTable = std::to_array<WindowRow>({
    {kFrame, "AXStandardWindow"},
    {kDialog, "AXDialog"},
    {kAlert, "AXDialog"},
    {kFileChooser, "AXDialog"},
    {kColorChooser, "AXDialog"},
    {kFontChooser, "AXDialog"},
    {kWindow, ""},  // pop-up and other undecorated windows
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
// "Decrease" are Qt's names for stepping).
struct ActionRow {
  std::string_view protocol;
  std::string_view toolkit;
};
constexpr ActionRow kActionTable[] = {
    {"AXPress", "click"},      {"AXPress", "press"},         {"AXPress", "activate"},
    {"AXPress", "toggle"},     {"AXPress", "Press"},         {"AXPress", "Toggle"},
    {"AXShowMenu", "popup"},   {"AXShowMenu", "menu"},       {"AXShowMenu", "ShowMenu"},
    {"AXIncrement", "Increase"}, {"AXDecrement", "Decrease"},
};

}  // namespace

bool isWindowRole(uint32_t atspiRole) {
  for (const WindowRow& row : kWindowTable) {
    if (row.atspi == atspiRole) return true;
  }
  return false;
}

bool isMenuHolder(uint32_t atspiRole, std::span<const uint32_t> childRoles) {
  return atspiRole == kWindow && childRoles.size() == 1 && childRoles[0] == kMenu;
}

bool mayHoldMenu(uint32_t atspiRole) { return atspiRole == kWindow; }

ProtocolRole protocolRole(uint32_t atspiRole, uint64_t states, bool topLevel) {
  if (topLevel) {
    for (const WindowRow& row : kWindowTable) {
      if (row.atspi == atspiRole) return {"AXWindow", row.subrole};
    }
  }
  switch (atspiRole) {
    case kPasswordText:
      return {"AXTextField", "AXSecureTextField"};
    case kText:
      return {hasState(states, kStateMultiLine) ? "AXTextArea" : "AXTextField", ""};
    case kToggleButton:
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
  return atspiRole == kCheckBox || atspiRole == kCheckMenuItem || atspiRole == kRadioButton ||
         atspiRole == kRadioMenuItem || atspiRole == kToggleButton;
}

bool isSteppedRole(uint32_t atspiRole) {
  return atspiRole == kSlider || atspiRole == kSpinButton || atspiRole == kScrollBar ||
         atspiRole == kDial;
}

bool isSecretTextRole(uint32_t atspiRole) { return atspiRole == kPasswordText; }

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
