#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "platform/geometry.h"

namespace tavren {

// A kind of attribute value the readers do not use (an element, a list, a text range, ...).
struct OtherValue {
  bool operator==(const OtherValue&) const = default;
};

// One attribute exactly as the platform answered. std::monostate: the read failed or gave no
// value. Keeping the raw kind lets the readers apply their defaults to wrongly typed values
// instead of each backend guessing.
using AttributeValue =
    std::variant<std::monostate, std::string, bool, int64_t, double, Point, Size, OtherValue>;

// An element of one snapshot, by position in AccessibilitySnapshot::elements().
using ElementIndex = uint32_t;

// What a snapshot knows of an element without asking the application again.
struct AccessibilityElement {
  AttributeValue role;         // "AXRole": the protocol's role name ("AXButton", ...)
  AttributeValue subrole;      // "AXSubrole"
  AttributeValue title;        // "AXTitle"
  AttributeValue description;  // "AXDescription"
  AttributeValue help;         // "AXHelp"
  std::optional<ElementIndex> parent;  // "AXParent"; none for a root or when unreadable
  // "AXChildren" in order; none while not read yet (AccessibilitySnapshot::readChildren).
  // A failed read gives the empty list.
  std::optional<std::vector<ElementIndex>> children;
};

// The parts of an element that cost a call each on most platforms, read in bulk on demand.
struct ElementDetails {
  AttributeValue position;  // "AXPosition": a Point when readable
  AttributeValue size;      // "AXSize": a Size when readable
  // The action names; none when the call failed. Entries of another kind than a string make
  // the whole list unusable (see axActions).
  std::optional<std::vector<AttributeValue>> actions;
};

// A platform's refusal, as a non-zero number; 0 is success. Backends without numbers of their
// own use these (the values the host already knows from the Mac).
using AccessibilityError = int32_t;
inline constexpr AccessibilityError kAXErrorFailure = -25200;
inline constexpr AccessibilityError kAXErrorIllegalArgument = -25201;
inline constexpr AccessibilityError kAXErrorInvalidElement = -25202;
inline constexpr AccessibilityError kAXErrorCannotComplete = -25204;  // no answer in time
inline constexpr AccessibilityError kAXErrorAttributeUnsupported = -25205;
inline constexpr AccessibilityError kAXErrorActionUnsupported = -25206;

// Whether an attribute can be written; `error` non-zero when asking failed.
struct SettableAnswer {
  AccessibilityError error = 0;
  bool settable = false;
};

// A range of text in UTF-16 code units, the protocol's unit.
struct TextRange {
  int64_t location = 0;
  int64_t length = 0;
  bool operator==(const TextRange&) const = default;
};

// One live element, found for one request and used on its thread. Every call asks the
// application afresh; an element that has gone answers with errors and empty reads.
class AccessibleElement {
 public:
  virtual ~AccessibleElement() = default;

  // Role, subrole and texts as read when the element was found (parent and children unset).
  virtual const AccessibilityElement& element() const = 0;
  // Position, size and action names (the protocol's names), read now.
  virtual ElementDetails details() = 0;
  // Performs one of the names details() lists.
  virtual AccessibilityError perform(const std::string& action) = 0;

  // "AXValue": whether it can be set, and setting it to a string.
  virtual SettableAnswer valueSettable() = 0;
  virtual AccessibilityError setValue(const std::string& value) = 0;
  // "AXFocused" set to true; whether it worked is not reported.
  virtual void focus() = 0;

  // "AXValue" as text; implementations never read a secret field's text.
  virtual AttributeValue value() = 0;
  // "AXSelectedTextRange": whether it can be set, setting it, and what it is now (none when
  // unreadable).
  virtual SettableAnswer selectionSettable() = 0;
  virtual AccessibilityError setSelection(TextRange range) = 0;
  virtual std::optional<TextRange> selection() = 0;
};

// One application's user interface as read at one moment. Used by one request on one thread.
// elements() grows as children are read or hit tests find new elements: hold indexes, not
// references, across those calls.
class AccessibilitySnapshot {
 public:
  virtual ~AccessibilitySnapshot() = default;

  virtual const std::vector<AccessibilityElement>& elements() const = 0;
  // "AXWindows" and "AXChildren" of the application element; empty when unreadable.
  virtual std::vector<ElementIndex> windows() const = 0;
  virtual std::vector<ElementIndex> applicationChildren() const = 0;

  // Reads the children of each given element whose children are not known yet, all together.
  // Elements past `atMost` in a child list may be left out: no caller walks that far.
  virtual void readChildren(std::span<const ElementIndex> elements, size_t atMost) = 0;
  // Position, size and actions of each given element, in the same order, read together.
  virtual std::vector<ElementDetails> details(std::span<const ElementIndex> elements) = 0;
  // "AXValue" of each given element, in the same order, read together. Callers never pass an
  // element whose value must stay unread: implementations must not read anything else.
  virtual std::vector<AttributeValue> values(std::span<const ElementIndex> elements) = 0;
  // The deepest element of this application at a global point, where the point lies in the
  // window with the given frame (a platform may need the frame to tell stacked surfaces
  // apart); none when nothing of this application is there or the hit test fails.
  virtual std::optional<ElementIndex> elementAt(Point point, const Rect& window) = 0;
  // The element that has the keyboard focus in this application ("AXFocusedUIElement"); none
  // when no element has it or the application does not tell.
  virtual std::optional<ElementIndex> focusedElement() { return std::nullopt; }
  // The element as a live one that outlives this snapshot; null when it cannot be reached.
  virtual std::unique_ptr<AccessibleElement> live(ElementIndex element) = 0;
};

// Where an element path starts: the application's n-th window or n-th child.
enum class PathRoot { Window, ApplicationChild };

// The accessibility interface of the desktop. Safe to call from any thread.
class Accessibility {
 public:
  virtual ~Accessibility() = default;
  // Whether this service may read other applications' interfaces at all.
  virtual bool trusted() = 0;
  // A snapshot of the application with this pid; never null. An application that cannot be
  // reached gives a snapshot without windows or children.
  virtual std::unique_ptr<AccessibilitySnapshot> snapshot(int32_t pid) = 0;
  // The element reached from the root by child indexes (as a snapshot numbers them), reading
  // only the elements on the way; null when any step names nothing.
  virtual std::unique_ptr<AccessibleElement> element(int32_t pid, PathRoot root, int64_t index,
                                                     std::span<const int64_t> children) = 0;
};

}  // namespace tavren
