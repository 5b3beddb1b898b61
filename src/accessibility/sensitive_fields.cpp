#include "accessibility/sensitive_fields.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <memory>

#include "accessibility/attribute_readers.h"
#include "core/unicode_text.h"

namespace tavren {
namespace {

// Every role a user types a value into: a spin button holds a code as well as an entry does.
constexpr std::string_view kTextEntryRoles[] = {"axtextfield", "axtextarea", "axcombobox",
                                                "axincrementor", "axsearchfield"};

// English terms as whole words (any run of spaces or hyphens inside a term, also none), Chinese
// terms anywhere.
constexpr const char* kSensitiveLabelPattern =
    "(?:\\b(?:password|passcode|otp|one[\\s-]*time[\\s-]*(?:code|password)|"
    "verification[\\s-]*code|security[\\s-]*code)\\b|"
    "\xE5\xAF\x86\xE7\xA0\x81|\xE5\xAF\x86\xE7\xA2\xBC|\xE5\x8F\xA3\xE4\xBB\xA4|"
    "\xE9\xAA\x8C\xE8\xAF\x81\xE7\xA0\x81|\xE9\xA9\x97\xE8\xAD\x89\xE7\xA2\xBC|"
    "\xE5\x8A\xA8\xE6\x80\x81\xE7\xA0\x81|\xE5\x8B\x95\xE6\x85\x8B\xE7\xA2\xBC)";

// Compiled once; a compiled pattern is immutable and hands out one matcher per search, so
// concurrent requests share it safely.
const icu::RegexPattern* sensitiveLabelPattern() {
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString::fromUTF8(kSensitiveLabelPattern), UREGEX_CASE_INSENSITIVE, status));
    return U_SUCCESS(status) ? std::move(compiled) : nullptr;
  }();
  return pattern.get();
}

bool labelNamesSecret(std::string_view label) {
  const icu::RegexPattern* pattern = sensitiveLabelPattern();
  // Without the pattern nothing could be told apart: withhold rather than leak.
  if (pattern == nullptr) return true;
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(label.data(), static_cast<int32_t>(label.size())));
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
  if (U_FAILURE(status)) return true;
  const bool found = matcher->find(status);
  return U_FAILURE(status) || found;
}

}  // namespace

bool isSensitiveSummary(std::string_view role, std::string_view label) {
  if (role == "AXSecureTextField") return true;
  std::string text(role);
  text += ' ';
  text += label;
  const std::string lower = lowerCased(text);
  for (std::string_view word : sensitiveFieldWords) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

bool isSensitiveAXField(std::string_view role, std::string_view subrole, std::string_view label) {
  const std::string lowerRole = lowerCased(role);
  if (lowerRole == "axsecuretextfield" || lowerCased(subrole) == "axsecuretextfield") return true;
  bool textEntry = false;
  for (std::string_view r : kTextEntryRoles) textEntry = textEntry || lowerRole == r;
  return textEntry && labelNamesSecret(label);
}

bool isTextEntryRole(std::string_view role) {
  const std::string lowerRole = lowerCased(role);
  for (std::string_view r : kTextEntryRoles) {
    if (lowerRole == r) return true;
  }
  return lowerRole == "axsecuretextfield";
}

std::string observedAXValue(bool isProtected, const std::function<std::string()>& read) {
  if (isProtected) return std::string(kProtectedValue);
  return read();
}

}  // namespace tavren
