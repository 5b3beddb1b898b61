#include "accessibility/element_summary.h"

#include <cmath>

#include "accessibility/attribute_readers.h"
#include "core/unicode_text.h"
#include "accessibility/sensitive_fields.h"

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

int64_t roundedCoordinate(std::optional<double> value) {
  if (!value || !std::isfinite(*value)) return 0;
  const double rounded = std::round(*value);  // halves away from zero
  // 2^63 is exact in double; anything at or beyond it does not fit.
  if (rounded >= 9223372036854775808.0 || rounded < -9223372036854775808.0) return 0;
  return static_cast<int64_t>(rounded);
}

Json axElementBox(const ElementDetails& details) {
  const std::optional<Point> position = axPoint(details.position);
  const std::optional<Size> size = axSize(details.size);
  auto part = [](bool present, double v) { return present ? std::optional<double>(v) : std::nullopt; };
  return Json{{"x", roundedCoordinate(part(position.has_value(), position ? position->x : 0))},
              {"y", roundedCoordinate(part(position.has_value(), position ? position->y : 0))},
              {"w", roundedCoordinate(part(size.has_value(), size ? size->width : 0))},
              {"h", roundedCoordinate(part(size.has_value(), size ? size->height : 0))}};
}

}  // namespace tavren
