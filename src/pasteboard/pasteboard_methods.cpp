#include "pasteboard/pasteboard_methods.h"

#include "core/params.h"
#include "pasteboard/named_pasteboards.h"

namespace tavren {
namespace {

constexpr int kSnapshotCode = 2;
constexpr int kRestoreCode = 3;

// The name, or the error the method answers for it.
std::variant<std::string, ServiceError> nameParam(const Json& params, int code) {
  std::optional<std::string> name = stringParam(params, "name");
  if (!name || name->empty()) return computerUseError(code, "Missing pasteboard name");
  if (name->size() > kMaxPasteboardNameBytes) {
    return computerUseError(code, "Pasteboard name too long (at most " +
                                      std::to_string(kMaxPasteboardNameBytes) + " bytes)");
  }
  return *name;
}

Json itemsResult(size_t count) { return Json{{"items", count}}; }

}  // namespace

std::vector<PasteboardItem> clonePasteboardItems(const std::vector<PasteboardItem>& items) {
  std::vector<PasteboardItem> clones;
  clones.reserve(items.size());
  for (const auto& item : items) {
    PasteboardItem clone;
    for (const auto& r : item) {
      if (!r.type.empty()) clone.push_back(r);
    }
    clones.push_back(std::move(clone));
  }
  return clones;
}

std::vector<PasteboardItem> clonePasteboardItems(std::vector<PasteboardItem>&& items) {
  for (auto& item : items) {
    std::erase_if(item, [](const PasteboardRepresentation& r) { return r.type.empty(); });
  }
  return std::move(items);
}

Outcome pasteboardSnapshotMethod(const Json& params, Pasteboard& general,
                                 const std::filesystem::path& directory) {
  auto name = nameParam(params, kSnapshotCode);
  if (auto* error = std::get_if<ServiceError>(&name)) return *error;
  // A clipboard that cannot be read is not an empty one: storing it as empty would replace a
  // snapshot kept under this name with nothing.
  std::optional<std::vector<PasteboardItem>> items = general.generalItems();
  if (!items) {
    return computerUseError(kSnapshotCode,
                            "Could not read the clipboard; nothing was stored");
  }
  const std::vector<PasteboardItem> clones = clonePasteboardItems(std::move(*items));
  if (std::string error = writeNamedPasteboard(directory, std::get<std::string>(name), clones);
      !error.empty()) {
    return computerUseError(kSnapshotCode, "Could not store the pasteboard: " + error);
  }
  return itemsResult(clones.size());
}

Outcome pasteboardRestoreMethod(const Json& params, Pasteboard& general,
                                const std::filesystem::path& directory) {
  auto name = nameParam(params, kRestoreCode);
  if (auto* error = std::get_if<ServiceError>(&name)) return *error;
  const std::string& key = std::get<std::string>(name);
  NamedPasteboardRead stored = readNamedPasteboard(directory, key);
  if (!stored.error.empty()) {
    return computerUseError(kRestoreCode, "Could not read the stored pasteboard (kept): " +
                                              stored.error);
  }
  std::vector<PasteboardItem> clones = clonePasteboardItems(std::move(stored.items));
  const size_t count = clones.size();
  if (!general.setGeneralItems(std::move(clones))) {
    return computerUseError(kRestoreCode,
                            "Could not set the clipboard; the stored pasteboard is kept");
  }
  if (stored.found) removeNamedPasteboard(directory, key);
  return itemsResult(count);
}

}  // namespace tavren
