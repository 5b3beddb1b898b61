#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavren {

// One representation of a pasteboard item: a type name and its bytes.
struct PasteboardRepresentation {
  std::string type;
  std::string data;

  bool operator==(const PasteboardRepresentation&) const = default;
};

// An item's representations, in the order its owner offers them.
using PasteboardItem = std::vector<PasteboardRepresentation>;

// The system's general pasteboard (on X11 the CLIPBOARD selection). Named pasteboards are kept by
// the service itself, not by the desktop. Safe to call from any thread.
class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  // Every representation the owner delivers now; a type whose data cannot be obtained is left
  // out. No owner: no items. Nothing at all when the desktop cannot be reached, which is not
  // the same as an empty clipboard.
  virtual std::optional<std::vector<PasteboardItem>> generalItems() = 0;
  // Makes these items the general pasteboard's content (no items: empties it). False when the
  // desktop refused or could not be reached.
  virtual bool setGeneralItems(std::vector<PasteboardItem> items) = 0;
  // For the end of the process: content the service still serves would vanish with it, so it is
  // handed to a running clipboard manager, waiting a bounded time. False when there was nothing
  // to hand over or no manager took it.
  virtual bool handOverBeforeExit() { return false; }
};

}  // namespace tavren
