#pragma once

#include <memory>
#include <mutex>

#include "platform/linux/clipboard/clipboard_owner.h"
#include "platform/pasteboard.h"

namespace tavren::x11 {

// The general pasteboard on X11: the CLIPBOARD selection. Reading asks the current owner for
// every target; setting makes the service the owner (its own connection and thread, started on
// first use).
class X11Pasteboard final : public Pasteboard {
 public:
  X11Pasteboard() = default;
  // Hands the content to a clipboard manager first when we still own the selection.
  ~X11Pasteboard() override;

  std::vector<PasteboardItem> generalItems() override;
  bool setGeneralItems(std::vector<PasteboardItem> items) override;
  bool handOverBeforeExit() override;

 private:
  std::mutex mutex_;
  std::unique_ptr<ClipboardOwner> owner_;
};

}  // namespace tavren::x11
