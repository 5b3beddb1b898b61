#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pasteboard.h"

namespace tavren {

// Named pasteboards are files, one per name, in a private directory. A name is never used as a
// path: its bytes are encoded (base64url) into the file name, so any byte string names exactly
// one file inside the directory and none outside it.

// Longest name, in bytes, whose encoded file name still fits a file system's 255-byte limit.
inline constexpr size_t kMaxPasteboardNameBytes = 180;

// The directory of named pasteboards: $XDG_RUNTIME_DIR/tavren/pasteboards, or, without a runtime
// directory, /tmp/tavren-UID/pasteboards.
std::filesystem::path namedPasteboardDirectory();

// The file name that stands for this name; absent when the name is empty or too long.
std::optional<std::string> pasteboardFileName(std::string_view name);

// The bytes of a pasteboard file, and back; decoding refuses truncated or foreign data.
std::string encodePasteboardItems(const std::vector<PasteboardItem>& items);
std::optional<std::vector<PasteboardItem>> decodePasteboardItems(std::string_view bytes);

// What reading a named pasteboard found.
struct NamedPasteboardRead {
  bool found = false;                 // a file exists for the name
  std::vector<PasteboardItem> items;  // its items when it could be read
  std::string error;                  // why it could not be read; empty when it was
};

// Stores the items under the name, replacing what was there. The directory (and its parent) is
// created with mode 0700 when missing, and refused when it is not a private directory of this
// user. The file appears whole or not at all. Returns the error, empty on success.
std::string writeNamedPasteboard(const std::filesystem::path& directory, std::string_view name,
                                 const std::vector<PasteboardItem>& items);
NamedPasteboardRead readNamedPasteboard(const std::filesystem::path& directory,
                                        std::string_view name);
// Discards the named pasteboard; a missing one is no error.
void removeNamedPasteboard(const std::filesystem::path& directory, std::string_view name);

}  // namespace tavren
