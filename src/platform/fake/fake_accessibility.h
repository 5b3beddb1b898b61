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
//             "childrenFail": true}
// Strings, booleans, integers and fractions keep their kind; other JSON values are of a kind
// the readers do not use. Coordinates may be "inf", "-inf" or "nan". A missing "actions" is a
// failed call. Without the accessibility capability nothing is trusted and nothing is read.
class FakeAccessibility final : public Accessibility {
 public:
  FakeAccessibility(Workspace& workspace, const Json& fixture, bool trusted);

  bool trusted() override { return trusted_; }
  std::unique_ptr<AccessibilitySnapshot> snapshot(int32_t pid) override;

  // The title of each element whose value was read, oldest first.
  std::vector<std::string> valueReads() const;
  void recordValueRead(std::string title);

 private:
  Workspace& workspace_;
  const Json apps_;
  const bool trusted_;
  mutable std::mutex mutex_;
  std::vector<std::string> valueReads_;
};

}  // namespace tavren
