#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavren {

// One representation of a pasteboard item: a type name and its bytes.
struct PasteboardRepresentation {
  std::string type;
  std::string data;
};

using PasteboardItem = std::vector<PasteboardRepresentation>;

// The system's general pasteboard, and named pasteboards that outlive the process.
class Pasteboard {
 public:
  virtual ~Pasteboard() = default;
  virtual std::vector<PasteboardItem> generalItems() = 0;
  virtual bool setGeneralItems(const std::vector<PasteboardItem>& items) = 0;
  virtual std::optional<std::vector<PasteboardItem>> namedItems(const std::string& name) = 0;
  virtual bool setNamedItems(const std::string& name, const std::vector<PasteboardItem>& items) = 0;
};

}  // namespace tavren
