#include "platform/linux/windows/paired_accessibility.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "platform/linux/windows/window_matching.h"

namespace tavren::appwindows {
namespace {

class PairedSnapshot final : public AccessibilitySnapshot {
 public:
  PairedSnapshot(std::unique_ptr<atspi::AtspiSnapshot> toolkit, LinuxApplicationWindows& windows,
                 int32_t pid)
      : toolkit_(std::move(toolkit)), windows_(windows), pid_(pid) {
    // A title scope is matched before any extents are read: a window without a name is paired
    // at once, so that it is known by its X title from the start.
    const std::vector<ElementIndex> windowElements = toolkit_->windows();
    for (ElementIndex w : windowElements) {
      if (!untitled(w)) continue;
      pair(windowElements, toolkit_->details(windowElements));
      break;
    }
  }

  const std::vector<AccessibilityElement>& elements() const override {
    return toolkit_->elements();
  }
  std::vector<ElementIndex> windows() const override { return toolkit_->windows(); }
  std::vector<ElementIndex> applicationChildren() const override {
    return toolkit_->applicationChildren();
  }
  void readChildren(std::span<const ElementIndex> which, size_t atMost) override {
    toolkit_->readChildren(which, atMost);
  }
  std::vector<AttributeValue> values(std::span<const ElementIndex> which) override {
    return toolkit_->values(which);
  }
  std::optional<ElementIndex> elementAt(Point point, const Rect& window) override {
    if (!toolkit_->windowRelativeExtents()) return toolkit_->elementAt(point, window);
    // The toolkit's boxes are relative to the window: so is the question.
    return toolkit_->elementAt(Point{point.x - window.x, point.y - window.y},
                               Rect{0, 0, window.width, window.height});
  }
  std::optional<ElementIndex> focusedElement() override { return toolkit_->focusedElement(); }
  std::unique_ptr<AccessibleElement> live(ElementIndex element) override {
    return toolkit_->live(element);
  }

  std::vector<ElementDetails> details(std::span<const ElementIndex> which) override {
    const std::vector<ElementIndex> windows = toolkit_->windows();
    const bool asksWindow = std::any_of(which.begin(), which.end(), [&](ElementIndex e) {
      return std::find(windows.begin(), windows.end(), e) != windows.end();
    });
    // Window-relative boxes need their window's origin: the windows go out with the first batch.
    if (frames_ || (!asksWindow && !toolkit_->windowRelativeExtents())) {
      return withFrames(which, toolkit_->details(which));
    }
    // The windows' own extents go out with the first batch that needs them: no extra round.
    std::vector<ElementIndex> asked(which.begin(), which.end());
    asked.insert(asked.end(), windows.begin(), windows.end());
    std::vector<ElementDetails> read = toolkit_->details(asked);
    pair(windows, std::span(read).subspan(which.size()));
    read.resize(which.size());
    return withFrames(which, std::move(read));
  }

 private:
  void pair(const std::vector<ElementIndex>& windows, std::span<const ElementDetails> read) {
    std::vector<AccessibleWindow> accessible(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
      if (auto* title = std::get_if<std::string>(&elements()[windows[i]].title)) {
        accessible[i].name = *title;
      }
      // A window-relative toolkit places every window at the origin: its size and title pair it.
      if (auto* at = std::get_if<Point>(&read[i].position);
          at && !toolkit_->windowRelativeExtents()) {
        accessible[i].position = *at;
      }
      if (auto* size = std::get_if<Size>(&read[i].size)) accessible[i].size = *size;
    }
    const std::vector<ClientWindow> clients = windows_.clientWindows(pid_);
    const std::vector<std::optional<size_t>> match = matchAccessibleWindows(accessible, clients);
    frames_.emplace();
    for (size_t i = 0; i < windows.size(); ++i) {
      if (!match[i]) continue;
      const ClientWindow& client = clients[*match[i]];
      if (client.bounds) (*frames_)[windows[i]] = *client.bounds;
      if (untitled(windows[i]) && !client.title.empty())
        toolkit_->nameWindow(windows[i], client.title);
    }
  }

  bool untitled(ElementIndex window) const {
    const auto* title = std::get_if<std::string>(&elements()[window].title);
    return title == nullptr || title->empty();
  }

  std::vector<ElementDetails> withFrames(std::span<const ElementIndex> which,
                                         std::vector<ElementDetails> read) const {
    if (!frames_) return read;
    const bool relative = toolkit_->windowRelativeExtents();
    for (size_t i = 0; i < which.size(); ++i) {
      auto it = frames_->find(which[i]);
      if (it == frames_->end()) {
        // Inside a window of a window-relative toolkit: moved by the window's origin, once.
        if (!relative) continue;
        auto window = frames_->find(toolkit_->topLevelOf(which[i]));
        auto* at = std::get_if<Point>(&read[i].position);
        if (window == frames_->end() || at == nullptr) continue;
        read[i].position = Point{at->x + window->second.x, at->y + window->second.y};
        continue;
      }
      read[i].position = Point{it->second.x, it->second.y};
      read[i].size = Size{it->second.width, it->second.height};
    }
    return read;
  }

  std::unique_ptr<atspi::AtspiSnapshot> toolkit_;
  LinuxApplicationWindows& windows_;
  int32_t pid_;
  // The X client rectangle of each paired window element, once asked for.
  std::optional<std::unordered_map<ElementIndex, Rect>> frames_;
};

}  // namespace

std::unique_ptr<AccessibilitySnapshot> PairedAccessibility::snapshot(int32_t pid) {
  return std::make_unique<PairedSnapshot>(toolkit_.read(pid), windows_, pid);
}

}  // namespace tavren::appwindows
