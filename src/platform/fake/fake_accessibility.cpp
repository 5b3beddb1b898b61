#include "platform/fake/fake_accessibility.h"

#include <cmath>
#include <limits>

namespace tavren {
namespace {

const Json kNoElements = Json::array();

AttributeValue attributeFrom(const Json* j) {
  if (j == nullptr || j->is_null()) return std::monostate{};
  if (j->is_string()) return j->get<std::string>();
  if (j->is_boolean()) return j->get<bool>();
  if (j->is_number_integer()) return j->get<int64_t>();
  if (j->is_number()) return j->get<double>();
  return OtherValue{};
}

double coordinate(const Json& j) {
  if (j.is_number()) return j.get<double>();
  const std::string s = j.is_string() ? j.get<std::string>() : "nan";
  if (s == "inf") return std::numeric_limits<double>::infinity();
  if (s == "-inf") return -std::numeric_limits<double>::infinity();
  return std::numeric_limits<double>::quiet_NaN();
}

// [x, y] as a point or size; anything else keeps its own kind.
template <class Pair>
AttributeValue pairFrom(const Json* j) {
  if (j != nullptr && j->is_array() && j->size() == 2) return Pair{coordinate((*j)[0]), coordinate((*j)[1])};
  return attributeFrom(j);
}

const Json* member(const Json& element, const char* key) {
  auto it = element.find(key);
  return it == element.end() ? nullptr : &*it;
}

// The list under `key`, by reference: snapshots keep pointers into the fixture.
const Json& elementList(const Json& element, const char* key) {
  const Json* list = member(element, key);
  return list != nullptr && list->is_array() ? *list : kNoElements;
}

bool contains(const Json& element, Point p) {
  auto position = pairFrom<Point>(member(element, "position"));
  auto size = pairFrom<Size>(member(element, "size"));
  const Point* at = std::get_if<Point>(&position);
  const Size* extent = std::get_if<Size>(&size);
  return at && extent && p.x >= at->x && p.y >= at->y && p.x < at->x + extent->width &&
         p.y < at->y + extent->height;
}

class FakeSnapshot final : public AccessibilitySnapshot {
 public:
  FakeSnapshot(FakeAccessibility& owner, const Json* app) : owner_(owner), app_(app) {
    if (app_ == nullptr) return;
    failAfter_ = app_->value("failAfterReads", -1);
    const Json& children = elementList(*app_, "children");
    for (const Json& child : children) appChildren_.push_back(add(child, std::nullopt));
    if (auto it = app_->find("windows"); it != app_->end() && it->is_array()) {
      for (const Json& i : *it) {
        if (i.is_number_unsigned() && i.get<size_t>() < appChildren_.size()) {
          windows_.push_back(appChildren_[i.get<size_t>()]);
        }
      }
    } else {
      for (ElementIndex e : appChildren_) {
        const auto* role = std::get_if<std::string>(&elements_[e].role);
        if (role && *role == "AXWindow") windows_.push_back(e);
      }
    }
  }

  const std::vector<AccessibilityElement>& elements() const override { return elements_; }
  std::vector<ElementIndex> windows() const override { return windows_; }
  std::vector<ElementIndex> applicationChildren() const override { return appChildren_; }

  void readChildren(std::span<const ElementIndex> which, size_t atMost) override {
    const bool failed = spend(which.size());
    for (ElementIndex e : which) {
      if (elements_[e].children) continue;
      std::vector<ElementIndex> children;
      const Json& source = *sources_[e];
      if (!failed && !source.value("childrenFail", false)) {
        for (const Json& child : elementList(source, "children")) {
          if (children.size() >= atMost) break;
          children.push_back(add(child, e));
        }
      }
      elements_[e].children = std::move(children);
    }
  }

  std::vector<ElementDetails> details(std::span<const ElementIndex> which) override {
    const bool failed = spend(which.size());
    std::vector<ElementDetails> out(which.size());
    if (failed) return out;
    for (size_t i = 0; i < which.size(); ++i) {
      const Json& source = *sources_[which[i]];
      out[i].position = pairFrom<Point>(member(source, "position"));
      out[i].size = pairFrom<Size>(member(source, "size"));
      if (const Json* actions = member(source, "actions"); actions && actions->is_array()) {
        out[i].actions.emplace();
        for (const Json& a : *actions) out[i].actions->push_back(attributeFrom(&a));
      }
    }
    return out;
  }

  std::vector<AttributeValue> values(std::span<const ElementIndex> which) override {
    const bool failed = spend(which.size());
    std::vector<AttributeValue> out(which.size());
    for (size_t i = 0; i < which.size(); ++i) {
      const Json& source = *sources_[which[i]];
      const Json* title = member(source, "title");
      owner_.recordValueRead(title && title->is_string() ? title->get<std::string>() : "");
      if (!failed) out[i] = attributeFrom(member(source, "value"));
    }
    return out;
  }

  std::optional<ElementIndex> elementAt(Point point, const Rect&) override {
    if (app_ == nullptr || spend(1)) return std::nullopt;
    std::vector<const Json*> chain;
    for (const char* list : {"popups", "children"}) {
      for (const Json& root : elementList(*app_, list)) {
        if (deepestAt(root, point, chain)) return materialize(chain);
      }
    }
    return std::nullopt;
  }

 private:
  ElementIndex add(const Json& source, std::optional<ElementIndex> parent) {
    if (auto it = indexOf_.find(&source); it != indexOf_.end()) return it->second;
    AccessibilityElement e;
    e.role = attributeFrom(member(source, "role"));
    e.subrole = attributeFrom(member(source, "subrole"));
    e.title = attributeFrom(member(source, "title"));
    e.description = attributeFrom(member(source, "description"));
    e.help = attributeFrom(member(source, "help"));
    e.parent = parent;
    const auto index = static_cast<ElementIndex>(elements_.size());
    elements_.push_back(std::move(e));
    sources_.push_back(&source);
    indexOf_[&source] = index;
    return index;
  }

  // The path from `root` down to the deepest element containing the point, in `chain`.
  static bool deepestAt(const Json& root, Point p, std::vector<const Json*>& chain) {
    if (!contains(root, p)) return false;
    chain.push_back(&root);
    for (const Json& child : elementList(root, "children")) {
      if (deepestAt(child, p, chain)) return true;
    }
    return true;
  }

  // Adds the hit element and its ancestors. Roots have no parent element: pop-ups hang under
  // no element, and the application element is not one of the snapshot's elements.
  ElementIndex materialize(const std::vector<const Json*>& chain) {
    std::optional<ElementIndex> parent;
    ElementIndex last = 0;
    for (const Json* j : chain) {
      last = add(*j, parent);
      parent = last;
    }
    return last;
  }

  // One more read (an empty batch asks nothing); true when the application no longer answers.
  bool spend(size_t asked) {
    if (failAfter_ < 0 || asked == 0) return false;
    if (failAfter_ == 0) return true;
    --failAfter_;
    return false;
  }

  FakeAccessibility& owner_;
  const Json* app_;
  int failAfter_ = -1;
  std::vector<AccessibilityElement> elements_;
  std::vector<const Json*> sources_;
  std::map<const Json*, ElementIndex> indexOf_;
  std::vector<ElementIndex> appChildren_;
  std::vector<ElementIndex> windows_;
};

}  // namespace

FakeAccessibility::FakeAccessibility(Workspace& workspace, const Json& fixture, bool trusted)
    : workspace_(workspace),
      apps_(fixture.value("accessibility", Json::object())),
      trusted_(trusted) {}

std::unique_ptr<AccessibilitySnapshot> FakeAccessibility::snapshot(int32_t pid) {
  const Json* app = nullptr;
  if (trusted_ && workspace_.application(pid)) {
    if (auto it = apps_.find(std::to_string(pid)); it != apps_.end() && it->is_object()) app = &*it;
  }
  return std::make_unique<FakeSnapshot>(*this, app);
}

std::vector<std::string> FakeAccessibility::valueReads() const {
  std::lock_guard lock(mutex_);
  return valueReads_;
}

void FakeAccessibility::recordValueRead(std::string title) {
  std::lock_guard lock(mutex_);
  valueReads_.push_back(std::move(title));
}

}  // namespace tavren
