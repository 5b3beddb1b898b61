#include "platform/linux/clipboard/x11_pasteboard.h"

#include "platform/linux/clipboard/clipboard_reader.h"

namespace tavren::x11 {

X11Pasteboard::~X11Pasteboard() { handOverBeforeExit(); }

std::optional<std::vector<PasteboardItem>> X11Pasteboard::generalItems() {
  if (!serverAnswers()) return std::nullopt;
  return readClipboard(x_->displayName());
}

bool X11Pasteboard::setGeneralItems(std::vector<PasteboardItem> items) {
  ClipboardOwner* owner = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!owner_ && serverAnswers()) owner_ = ClipboardOwner::start(x_->displayName());
    owner = owner_.get();
  }
  return owner != nullptr && owner->own(std::move(items));
}

bool X11Pasteboard::handOverBeforeExit() {
  ClipboardOwner* owner = nullptr;
  {
    std::lock_guard lock(mutex_);
    owner = owner_.get();
  }
  return owner != nullptr && owner->handToManager();
}

}  // namespace tavren::x11
