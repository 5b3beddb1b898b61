#include "accessibility/element_paths.h"

#include <charconv>
#include <limits>

#include "accessibility/popup_probe.h"

namespace tavren {
namespace {

// Digits with at most one leading '+' or '-', nothing else, within 64 bits.
std::optional<int64_t> decimalInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  uint64_t magnitude = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                  : uint64_t(std::numeric_limits<int64_t>::max());
  if (magnitude > limit) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

// The pop-up's menu, then its children by index, through one snapshot.
std::unique_ptr<AccessibleElement> popupElement(int32_t pid, const ElementPath& path,
                                                Accessibility& accessibility,
                                                WindowServer& windowServer) {
  std::optional<Rect> frame;
  for (const PopupWindow& popup : popupProbeWindows(pid, windowServer)) {
    if (popup.number == path.number) {
      frame = popup.frame;
      break;
    }
  }
  if (!frame) return nullptr;
  std::unique_ptr<AccessibilitySnapshot> snapshot = accessibility.snapshot(pid);
  std::optional<ElementIndex> current = probeMenuRoot(*snapshot, *frame);
  if (!current) return nullptr;
  for (int64_t index : path.children) {
    if (index < 0) return nullptr;
    const ElementIndex at[] = {*current};
    snapshot->readChildren(at, static_cast<size_t>(index) + 1);
    const auto& children = snapshot->elements()[*current].children;
    if (!children || static_cast<uint64_t>(index) >= children->size()) return nullptr;
    current = (*children)[static_cast<size_t>(index)];
  }
  return snapshot->live(*current);
}

}  // namespace

std::optional<ElementPath> parsedElementPath(std::string_view path) {
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const size_t dot = path.find('.');
    std::string_view part = path.substr(0, dot);
    if (!part.empty()) parts.push_back(part);
    if (dot == std::string_view::npos) break;
    path.remove_prefix(dot + 1);
  }
  if (parts.empty()) return std::nullopt;
  ElementPath out;
  out.root = parts[0][0];
  if (out.root != 'w' && out.root != 'a' && out.root != 'p') return std::nullopt;
  const std::optional<int64_t> number = decimalInteger(parts[0].substr(1));
  if (!number) return std::nullopt;
  if (out.root == 'p' && (*number < 0 || *number > std::numeric_limits<uint32_t>::max())) {
    return std::nullopt;
  }
  out.number = *number;
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::optional<int64_t> index = decimalInteger(parts[i]);
    if (!index) return std::nullopt;
    out.children.push_back(*index);
  }
  return out;
}

std::unique_ptr<AccessibleElement> axElement(const AppInfo& app, std::string_view text,
                                             Accessibility& accessibility,
                                             WindowServer& windowServer) {
  const std::optional<ElementPath> path = parsedElementPath(text);
  if (!path) return nullptr;
  if (path->root == 'p') return popupElement(app.pid, *path, accessibility, windowServer);
  if (path->number < 0) return nullptr;
  for (int64_t index : path->children) {
    if (index < 0) return nullptr;
  }
  return accessibility.element(app.pid, path->root == 'w' ? PathRoot::Window
                                                          : PathRoot::ApplicationChild,
                               path->number, path->children);
}

}  // namespace tavren
