#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/accessibility.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// An element path taken apart: the root letter ('w', 'a' or 'p'), its number, and the child
// indexes below it.
struct ElementPath {
  char root = 'w';
  int64_t number = 0;
  std::vector<int64_t> children;
  bool operator==(const ElementPath&) const = default;
};

// The path's parts, or none when it cannot name anything. Empty components are dropped
// ('.w0..2.' is 'w0.2'); numbers are decimal with at most one leading sign; a 'p' number must be
// a window number (unsigned 32-bit). Negative indexes parse, and later name nothing.
std::optional<ElementPath> parsedElementPath(std::string_view path);

// The live element the path names in the application, as a tree read now would number it;
// null when it names nothing. Windows and application children are reached by reading only
// the path's own steps; a pop-up is found by hit-testing its window, as the tree finds it.
std::unique_ptr<AccessibleElement> axElement(const AppInfo& app, std::string_view path,
                                             Accessibility& accessibility,
                                             WindowServer& windowServer);

}  // namespace tavren
