#pragma once

#include <mutex>
#include <vector>

#include "core/json.h"
#include "platform/pasteboard.h"

namespace tavren {

// A general pasteboard in memory, seeded from the fixture's "clipboard" member:
//   {"items": [[{"type": "UTF8_STRING", "data": "text"}, ...], ...],
//    "refuseWrites": false,                    true: every set fails, as a lost display would
//    "unreachable": false}                     true: reads fail too
class FakePasteboard final : public Pasteboard {
 public:
  explicit FakePasteboard(const Json& clipboard);

  std::optional<std::vector<PasteboardItem>> generalItems() override;
  bool setGeneralItems(std::vector<PasteboardItem> items) override;

  // Changes made by tests, as the user's copying would.
  void copy(std::vector<PasteboardItem> items);
  void refuseWrites(bool refuse);

 private:
  std::mutex mutex_;
  std::vector<PasteboardItem> items_;
  bool refuseWrites_ = false;
  bool unreachable_ = false;
};

}  // namespace tavren
