#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/json.h"
#include "platform/accessibility.h"
#include "platform/workspace.h"

namespace tavren {

// Applications' accessibility trees made from the fixture. Snapshots read children lazily, as a
// real backend may, and the desktop keeps a journal of every value read, so tests can prove that
// a withheld value was never asked for.
//
// Fixture member it reads (optional), keyed by pid:
//   "accessibility": {"101": {"children": [ELEMENT...],   the application element's children
//                             "windows": [0, 2],         indexes into "children"; by default
//                                                        the children whose role is "AXWindow"
//                             "popups": [ELEMENT...],    reachable only by hit-testing
//                             "failAfterReads": 3}}      later reads fail, as if it quit
//   ELEMENT: {"role", "subrole", "title", "description", "help", "value": any JSON value,
//             "position": [x, y], "size": [w, h], "actions": [...], "children": [ELEMENT...],
//             "childrenFail": true,
//             "settable": true,                  "AXValue" can be set (false by default)
//             "settableError": -25204,           asking whether it can fails with this code
//             "setError": -25200,                setting the value fails with this code
//             "actionErrors": {"AXPress": -25204},
//             "selectable": true,                "AXSelectedTextRange" can be set
//             "selectionReported": [0, 0],       what the element reports, whatever is set
//             "selectionError": -25200,
//             "focused": true,                   the application's focused element
//             "gone": true}                      found, but gone before anything is done
// Acting applies to the desktop: a value set is read back by later snapshots, "AXPress" on an
// element whose value is 0 or 1 flips it, and every act joins acts().
// Strings, booleans, integers and fractions keep their kind; other JSON values are of a kind
// the readers do not use. Coordinates may be "inf", "-inf" or "nan". A missing "actions" is a
// failed call. Without the accessibility capability nothing is trusted and nothing is read.
class FakeAccessibility final : public Accessibility {
 public:
  FakeAccessibility(Workspace& workspace, const Json& fixture, bool trusted);

  bool trusted() override { return trusted_; }
  std::unique_ptr<AccessibilitySnapshot> snapshot(int32_t pid) override;
  std::unique_ptr<AccessibleElement> element(int32_t pid, PathRoot root, int64_t index,
                                             std::span<const int64_t> children) override;

  // The title of each element whose value was read, oldest first.
  std::vector<std::string> valueReads() const;
  void recordValueRead(std::string title);

  // What was done to elements, oldest first: "AXPress Title", "focus Title", "value Title",
  // "select Title 6 5". A value set is recorded without the value.
  std::vector<std::string> acts() const;
  void recordAct(std::string act);
  // The element's value as the desktop holds it now: what was set, else the fixture's.
  Json currentValue(const Json& element) const;
  void storeValue(const Json& element, Json value);
  std::optional<TextRange> currentSelection(const Json& element) const;
  void storeSelection(const Json& element, TextRange range);
  bool running(int32_t pid) { return workspace_.application(pid).has_value(); }

 private:
  Workspace& workspace_;
  const Json apps_;
  const bool trusted_;
  mutable std::mutex mutex_;
  std::vector<std::string> valueReads_;
  std::vector<std::string> acts_;
  std::map<const Json*, Json> values_;
  std::map<const Json*, TextRange> selections_;
  const Json* application(int32_t pid) const;
};

}  // namespace tavren
