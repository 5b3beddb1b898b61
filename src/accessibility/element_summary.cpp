#include "accessibility/element_summary.h"

#include <cmath>

#include "accessibility/attribute_readers.h"
#include "core/unicode_text.h"
#include "accessibility/sensitive_fields.h"
#include "platform/geometry.h"

namespace tavren {

std::string summaryLabel(const AccessibilityElement& element) {
  for (const AttributeValue* candidate : {&element.title, &element.description, &element.help}) {
    std::string text = axString(*candidate);
    if (!trimmedWhiteSpace(text).empty()) return text;
  }
  return {};
}

Json summarizedElement(const AccessibilityElement* element) {
  if (element == nullptr) return Json::object();
  const std::string role = axString(element->role);
  const std::string label = summaryLabel(*element);
  return Json{{"role", role},
              {"label", graphemePrefix(label, kSummaryLabelLength)},
              {"sensitive", isSensitiveSummary(role, label)}};
}

Json axElementBox(const ElementDetails& details) {
  const std::optional<Point> position = axPoint(details.position);
  const std::optional<Size> size = axSize(details.size);
  const Point p = position.value_or(Point{});
  const Size s = size.value_or(Size{});
  return Json{{"x", wholePoints(p.x)},
              {"y", wholePoints(p.y)},
              {"w", wholePoints(s.width)},
              {"h", wholePoints(s.height)}};
}

}  // namespace tavren
