#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

namespace tavren::x11 {

struct ClipboardReadLimits {
  // How long one target may take to start arriving, and the longest pause within an INCR
  // transfer. An owner that never answers a target costs this once, for that target.
  std::chrono::milliseconds perTarget{2000};
};

// The CLIPBOARD selection's content as one item: every target the owner lists under TARGETS,
// in its order, except the selection protocol's own (TARGETS, MULTIPLE, TIMESTAMP, SAVE_TARGETS)
// and the targets whose data cannot be obtained. No owner: no items. Nothing when the server
// cannot be reached. Opens its own connection, so that any number of reads may run at once.
std::optional<std::vector<PasteboardItem>> readClipboard(const std::string& display,
                                                         const ClipboardReadLimits& limits = {});

}  // namespace tavren::x11
