#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/json.h"
#include "core/unicode_text.h"
#include "platform/accessibility.h"
#include "platform/window_server.h"
#include "platform/workspace.h"

namespace tavren {

// Where the quoted text may stand in a value: the locations (UTF-16 units) of its occurrences,
// left to right and never overlapping, that have `prefix` just before and `suffix` just after
// (each compared up to canonical equivalence; empty means no condition). The text itself is
// matched unit for unit. An empty text occurs nowhere.
std::vector<int64_t> fittingOccurrences(const std::string& value, const std::string& text,
                                        const std::string& prefix, const std::string& suffix);

// "selectAXText": places the caret before or after, or the selection on, the one occurrence of
// "text" in the element's value, then waits up to 0.3 s for the element to report that range.
// Answers a status object: "ok", "not-found", "text-not-found", "ambiguous", "unsupported",
// "stale-window", "error" or "mismatch" (with the range last reported).
Json selectNativeAXText(const AppInfo& app, const Json& params, Accessibility& accessibility,
                        WindowServer& windowServer);

}  // namespace tavren
