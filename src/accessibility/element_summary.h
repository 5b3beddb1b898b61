#pragma once

#include <cstdint>
#include <optional>

#include "core/json.h"
#include "platform/accessibility.h"

namespace tavren {

// The longest label a summary carries, in user-perceived characters.
inline constexpr size_t kSummaryLabelLength = 240;

// The summary's label: the first of title, description and help that is not blank, untrimmed;
// "" when all three are blank.
std::string summaryLabel(const AccessibilityElement& element);

// {"role", "label", "sensitive"} of an element; {} when there is none.
Json summarizedElement(const AccessibilityElement* element);

// {"x", "y", "w", "h"} from an element's position and size, rounded; zeros for what is
// unreadable.
Json axElementBox(const ElementDetails& details);

}  // namespace tavren
