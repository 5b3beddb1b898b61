#include "platform/fake/fake_pasteboard.h"

namespace tavren {

FakePasteboard::FakePasteboard(const Json& clipboard) {
  if (!clipboard.is_object()) return;
  refuseWrites_ = clipboard.value("refuseWrites", false);
  unreachable_ = clipboard.value("unreachable", false);
  if (unreachable_) refuseWrites_ = true;
  for (const auto& item : clipboard.value("items", Json::array())) {
    PasteboardItem copy;
    for (const auto& r : item) copy.push_back({r.value("type", ""), r.value("data", "")});
    items_.push_back(std::move(copy));
  }
}

std::optional<std::vector<PasteboardItem>> FakePasteboard::generalItems() {
  std::lock_guard lock(mutex_);
  if (unreachable_) return std::nullopt;
  return items_;
}

bool FakePasteboard::setGeneralItems(std::vector<PasteboardItem> items) {
  std::lock_guard lock(mutex_);
  if (refuseWrites_) return false;
  items_ = std::move(items);
  return true;
}

void FakePasteboard::copy(std::vector<PasteboardItem> items) {
  std::lock_guard lock(mutex_);
  items_ = std::move(items);
}

void FakePasteboard::refuseWrites(bool refuse) {
  std::lock_guard lock(mutex_);
  refuseWrites_ = refuse;
}

}  // namespace tavren
