#include "accessibility/text_selection.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>

#include <chrono>
#include <thread>

#include "accessibility/attribute_readers.h"
#include "accessibility/element_paths.h"
#include "accessibility/element_summary.h"
#include "accessibility/sensitive_fields.h"
#include "core/params.h"
#include "focus/window_guard.h"

namespace tavren {
namespace {

constexpr auto kConfirmationTime = std::chrono::milliseconds(300);
constexpr auto kConfirmationPoll = std::chrono::milliseconds(10);

icu::UnicodeString unicode(const std::string& text) {
  return icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

bool canonicallyEqual(const icu::UnicodeString& a, const icu::UnicodeString& b) {
  if (a == b) return true;
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) return false;
  const icu::UnicodeString na = nfd->normalize(a, status);
  const icu::UnicodeString nb = nfd->normalize(b, status);
  return U_SUCCESS(status) && na == nb;
}

// A field whose text is a secret is searched as if empty: its text is never read, and the
// answers of repeated requests cannot be used to guess it.
bool secretField(const AccessibilityElement& e) {
  const std::string role = axString(e.role), subrole = axString(e.subrole);
  std::string firstText;
  for (const AttributeValue* text : {&e.title, &e.description, &e.help}) {
    firstText = axString(*text);
    if (!firstText.empty()) break;
  }
  return isSensitiveAXField(role, subrole, summaryLabel(e)) ||
         isSensitiveAXField(role, subrole, firstText);
}

}  // namespace

std::vector<int64_t> fittingOccurrences(const std::string& value, const std::string& text,
                                        const std::string& prefix, const std::string& suffix) {
  const icu::UnicodeString v = unicode(value), t = unicode(text), pre = unicode(prefix),
                           suf = unicode(suffix);
  const int32_t n = t.length(), p = pre.length(), s = suf.length();
  std::vector<int64_t> found;
  if (n == 0) return found;
  for (int32_t start = 0; start <= v.length();) {
    const int32_t at = v.indexOf(t, start);
    if (at < 0) break;
    start = at + n;
    const bool prefixHolds = p == 0 || (at >= p && canonicallyEqual(v.tempSubString(at - p, p), pre));
    const bool suffixHolds =
        s == 0 || (at + n + s <= v.length() && canonicallyEqual(v.tempSubString(at + n, s), suf));
    if (prefixHolds && suffixHolds) found.push_back(at);
  }
  return found;
}

Json selectNativeAXText(const AppInfo& app, const Json& params, Accessibility& accessibility,
                        WindowServer& windowServer) {
  const std::string path = stringParam(params, "path").value_or("");
  const std::string text = stringParam(params, "text").value_or("");
  const std::string prefix = stringParam(params, "prefix").value_or("");
  const std::string suffix = stringParam(params, "suffix").value_or("");
  const std::string selectionType = stringParam(params, "selectionType").value_or("text");

  std::unique_ptr<AccessibleElement> element =
      axElement(app, path, accessibility, windowServer);
  if (!element) return Json{{"status", "not-found"}};

  std::string value;
  if (!secretField(element->element())) {
    const AttributeValue read = element->value();
    if (const auto* s = std::get_if<std::string>(&read)) value = *s;
  }
  const std::vector<int64_t> found = fittingOccurrences(value, text, prefix, suffix);
  if (found.empty()) return Json{{"status", "text-not-found"}};
  if (found.size() > 1) return Json{{"status", "ambiguous"}};

  const int64_t n = utf16Length(text);
  TextRange target{found[0], n};
  if (selectionType == "cursor_before") target = {found[0], 0};
  if (selectionType == "cursor_after") target = {found[0] + n, 0};

  const SettableAnswer settable = element->selectionSettable();
  if (settable.error != 0 || !settable.settable) {
    return Json{{"status", "unsupported"}, {"posted", false}};
  }
  if (!observedWindowMatches(params, windowServer)) return staleWindowResult();
  element->focus();
  if (!observedWindowMatches(params, windowServer)) return staleWindowResult();
  if (const AccessibilityError code = element->setSelection(target); code != 0) {
    return Json{{"status", "error"}, {"code", code}};
  }

  TextRange observed{-1, -1};
  const auto deadline = std::chrono::steady_clock::now() + kConfirmationTime;
  for (;;) {
    if (std::optional<TextRange> now = element->selection()) observed = *now;
    if (observed == target) return Json{{"status", "ok"}};
    std::this_thread::sleep_for(kConfirmationPoll);
    if (std::chrono::steady_clock::now() >= deadline) break;
  }
  return Json{{"status", "mismatch"}, {"location", observed.location}, {"length", observed.length}};
}

}  // namespace tavren
