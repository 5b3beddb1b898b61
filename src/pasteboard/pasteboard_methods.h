#pragma once

#include <filesystem>
#include <vector>

#include "core/json.h"
#include "core/service_error.h"
#include "platform/pasteboard.h"

namespace tavren {

// Copies of the items, in order: each keeps, in its type order, the representations that carry a
// type. An item with none left still yields an empty copy, so the count is kept.
std::vector<PasteboardItem> clonePasteboardItems(const std::vector<PasteboardItem>& items);
// The same, reusing the items' bytes.
std::vector<PasteboardItem> clonePasteboardItems(std::vector<PasteboardItem>&& items);

// "pasteboardSnapshot": the general pasteboard's items stored under params "name" in
// `directory`; answers {"items": count}.
Outcome pasteboardSnapshotMethod(const Json& params, Pasteboard& general,
                                 const std::filesystem::path& directory);

// "pasteboardRestore": the items stored under "name" put on the general pasteboard, then the
// stored copy discarded. A name never stored empties the general pasteboard and answers 0 items.
// When the general pasteboard cannot be set, the stored copy is kept and the error says so.
Outcome pasteboardRestoreMethod(const Json& params, Pasteboard& general,
                                const std::filesystem::path& directory);

}  // namespace tavren
