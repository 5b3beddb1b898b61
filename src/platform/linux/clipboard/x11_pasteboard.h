#pragma once

#include <memory>
#include <mutex>

#include "platform/linux/clipboard/clipboard_owner.h"
#include "platform/linux/x11/x_connection.h"
#include "platform/pasteboard.h"

namespace tavren::x11 {

// The general pasteboard on X11: the CLIPBOARD selection. Reading asks the current owner for
// every target; setting makes the service the owner (its own connection and thread, started on
// first use). Both connect only while the shared connection `x` answers: connecting waits for
// the server without a deadline, which a stopped server would make a hang.
class X11Pasteboard final : public Pasteboard {
 public:
  explicit X11Pasteboard(const XConnection* x) : x_(x) {}
  // Hands the content to a clipboard manager first when we still own the selection.
  ~X11Pasteboard() override;

  std::optional<std::vector<PasteboardItem>> generalItems() override;
  bool setGeneralItems(std::vector<PasteboardItem> items) override;
  bool handOverBeforeExit() override;

 private:
  bool serverAnswers() const { return x_ && x_->alive(); }

  const XConnection* x_;
  std::mutex mutex_;
  std::unique_ptr<ClipboardOwner> owner_;
};

}  // namespace tavren::x11
