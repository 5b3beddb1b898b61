#include "platform/fake/fake_accessibility.h"

#include <algorithm>
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

AccessibilityElement factsOf(const Json& source) {
  AccessibilityElement e;
  e.role = attributeFrom(member(source, "role"));
  e.subrole = attributeFrom(member(source, "subrole"));
  e.title = attributeFrom(member(source, "title"));
  e.description = attributeFrom(member(source, "description"));
  e.help = attributeFrom(member(source, "help"));
  return e;
}

ElementDetails detailsOf(const Json& source) {
  ElementDetails d;
  d.position = pairFrom<Point>(member(source, "position"));
  d.size = pairFrom<Size>(member(source, "size"));
  if (const Json* actions = member(source, "actions"); actions && actions->is_array()) {
    d.actions.emplace();
    for (const Json& a : *actions) d.actions->push_back(attributeFrom(&a));
  }
  return d;
}

AccessibilityError codeAt(const Json& source, const char* key) {
  const Json* code = member(source, key);
  return code && code->is_number_integer() ? code->get<AccessibilityError>() : 0;
}

// One element of the fixture, acted on through the desktop that holds it.
class FakeElement final : public AccessibleElement {
 public:
  FakeElement(FakeAccessibility& owner, int32_t pid, const Json& source)
      : owner_(owner), pid_(pid), source_(source), facts_(factsOf(source)) {}

  const AccessibilityElement& element() const override { return facts_; }

  ElementDetails details() override { return here() ? detailsOf(source_) : ElementDetails{}; }

  AccessibilityError perform(const std::string& action) override {
    if (!here()) return kAXErrorInvalidElement;
    if (const Json* errors = member(source_, "actionErrors"); errors && errors->is_object()) {
      if (const AccessibilityError code = codeAt(*errors, action.c_str())) return code;
    }
    const std::vector<std::string> names = [&] {
      std::vector<std::string> out;
      if (auto a = detailsOf(source_).actions) {
        for (const AttributeValue& v : *a) {
          if (auto* s = std::get_if<std::string>(&v)) out.push_back(*s);
        }
      }
      return out;
    }();
    if (std::find(names.begin(), names.end(), action) == names.end()) {
      return kAXErrorActionUnsupported;
    }
    owner_.recordAct(action + " " + title());
    if (action == "AXPress") {
      const Json now = owner_.currentValue(source_);
      if (now == 0 || now == 1) owner_.storeValue(source_, now == 0 ? 1 : 0);
    }
    return 0;
  }

  SettableAnswer valueSettable() override {
    if (!here()) return {kAXErrorInvalidElement, false};
    if (const AccessibilityError code = codeAt(source_, "settableError")) return {code, false};
    return {0, source_.value("settable", false)};
  }

  AccessibilityError setValue(const std::string& value) override {
    if (!here()) return kAXErrorInvalidElement;
    if (const AccessibilityError code = codeAt(source_, "setError")) return code;
    owner_.recordAct("value " + title());
    owner_.storeValue(source_, value);
    return 0;
  }

  void focus() override {
    if (here()) owner_.recordAct("focus " + title());
  }

  AttributeValue value() override {
    owner_.recordValueRead(title());
    if (!here()) return std::monostate{};
    const Json now = owner_.currentValue(source_);
    return attributeFrom(&now);
  }

  SettableAnswer selectionSettable() override {
    if (!here()) return {kAXErrorInvalidElement, false};
    return {0, source_.value("selectable", false)};
  }

  AccessibilityError setSelection(TextRange range) override {
    if (!here()) return kAXErrorInvalidElement;
    if (const AccessibilityError code = codeAt(source_, "selectionError")) return code;
    owner_.recordAct("select " + title() + " " + std::to_string(range.location) + " " +
                     std::to_string(range.length));
    owner_.storeSelection(source_, range);
    return 0;
  }

  std::optional<TextRange> selection() override {
    if (!here()) return std::nullopt;
    if (const Json* r = member(source_, "selectionReported"); r && r->is_array() && r->size() == 2) {
      return TextRange{(*r)[0].get<int64_t>(), (*r)[1].get<int64_t>()};
    }
    return owner_.currentSelection(source_);
  }

 private:
  bool here() { return owner_.running(pid_) && !source_.value("gone", false); }
  std::string title() const {
    const Json* t = member(source_, "title");
    return t && t->is_string() ? t->get<std::string>() : "";
  }

  FakeAccessibility& owner_;
  int32_t pid_;
  const Json& source_;
  AccessibilityElement facts_;
};

class FakeSnapshot final : public AccessibilitySnapshot {
 public:
  FakeSnapshot(FakeAccessibility& owner, const Json* app, int32_t pid)
      : owner_(owner), app_(app), pid_(pid) {
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
    for (size_t i = 0; i < which.size(); ++i) out[i] = detailsOf(*sources_[which[i]]);
    return out;
  }

  std::vector<AttributeValue> values(std::span<const ElementIndex> which) override {
    const bool failed = spend(which.size());
    std::vector<AttributeValue> out(which.size());
    for (size_t i = 0; i < which.size(); ++i) {
      const Json& source = *sources_[which[i]];
      const Json* title = member(source, "title");
      owner_.recordValueRead(title && title->is_string() ? title->get<std::string>() : "");
      if (failed) continue;
      const Json now = owner_.currentValue(source);
      out[i] = attributeFrom(&now);
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

  std::optional<ElementIndex> focusedElement() override {
    if (app_ == nullptr || spend(1)) return std::nullopt;
    std::vector<const Json*> chain;
    for (const Json& root : elementList(*app_, "children")) {
      if (focusedBelow(root, chain)) return materialize(chain);
    }
    return std::nullopt;
  }

  std::unique_ptr<AccessibleElement> live(ElementIndex element) override {
    return std::make_unique<FakeElement>(owner_, pid_, *sources_[element]);
  }

 private:
  ElementIndex add(const Json& source, std::optional<ElementIndex> parent) {
    if (auto it = indexOf_.find(&source); it != indexOf_.end()) return it->second;
    AccessibilityElement e = factsOf(source);
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

  // The path from `root` down to the first element marked focused, in `chain`.
  static bool focusedBelow(const Json& root, std::vector<const Json*>& chain) {
    chain.push_back(&root);
    if (root.value("focused", false)) return true;
    for (const Json& child : elementList(root, "children")) {
      if (focusedBelow(child, chain)) return true;
    }
    chain.pop_back();
    return false;
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
  int32_t pid_;
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

const Json* FakeAccessibility::application(int32_t pid) const {
  if (!trusted_ || !workspace_.application(pid)) return nullptr;
  auto it = apps_.find(std::to_string(pid));
  return it != apps_.end() && it->is_object() ? &*it : nullptr;
}

std::unique_ptr<AccessibilitySnapshot> FakeAccessibility::snapshot(int32_t pid) {
  return std::make_unique<FakeSnapshot>(*this, application(pid), pid);
}

std::unique_ptr<AccessibleElement> FakeAccessibility::element(int32_t pid, PathRoot root,
                                                              int64_t index,
                                                              std::span<const int64_t> children) {
  const Json* app = application(pid);
  if (app == nullptr) return nullptr;
  const Json& appChildren = elementList(*app, "children");
  std::vector<const Json*> roots;
  if (root == PathRoot::ApplicationChild) {
    for (const Json& child : appChildren) roots.push_back(&child);
  } else if (auto it = app->find("windows"); it != app->end() && it->is_array()) {
    for (const Json& i : *it) {
      if (i.is_number_unsigned() && i.get<size_t>() < appChildren.size()) {
        roots.push_back(&appChildren[i.get<size_t>()]);
      }
    }
  } else {
    for (const Json& child : appChildren) {
      if (child.value("role", "") == "AXWindow") roots.push_back(&child);
    }
  }
  if (index < 0 || static_cast<uint64_t>(index) >= roots.size()) return nullptr;
  const Json* current = roots[static_cast<size_t>(index)];
  for (int64_t i : children) {
    if (current->value("childrenFail", false)) return nullptr;
    const Json& list = elementList(*current, "children");
    if (i < 0 || static_cast<uint64_t>(i) >= list.size()) return nullptr;
    current = &list[static_cast<size_t>(i)];
  }
  return std::make_unique<FakeElement>(*this, pid, *current);
}

std::vector<std::string> FakeAccessibility::acts() const {
  std::lock_guard lock(mutex_);
  return acts_;
}

void FakeAccessibility::recordAct(std::string act) {
  std::lock_guard lock(mutex_);
  acts_.push_back(std::move(act));
}

Json FakeAccessibility::currentValue(const Json& element) const {
  std::lock_guard lock(mutex_);
  if (auto it = values_.find(&element); it != values_.end()) return it->second;
  const Json* fixed = member(element, "value");
  return fixed ? *fixed : Json();
}

void FakeAccessibility::storeValue(const Json& element, Json value) {
  std::lock_guard lock(mutex_);
  values_[&element] = std::move(value);
}

std::optional<TextRange> FakeAccessibility::currentSelection(const Json& element) const {
  std::lock_guard lock(mutex_);
  if (auto it = selections_.find(&element); it != selections_.end()) return it->second;
  return std::nullopt;
}

void FakeAccessibility::storeSelection(const Json& element, TextRange range) {
  std::lock_guard lock(mutex_);
  selections_[&element] = range;
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
