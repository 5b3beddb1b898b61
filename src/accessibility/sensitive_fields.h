#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace tavren {

// Words that make an element sensitive in a summary, lower case, matched as plain substrings.
// A constant table rather than state built at start-up: it never changes, needs no order of
// creation, and recording shares it by name.
inline constexpr std::array<std::string_view, 9> sensitiveFieldWords = {
    "password", "passcode", "secret", "token", "api key",
    "\xE9\xAA\x8C\xE8\xAF\x81\xE7\xA0\x81",  // 验证码
    "\xE5\xAF\x86\xE7\xA0\x81",              // 密码
    "\xE5\x8F\xA3\xE4\xBB\xA4",              // 口令
    "\xE5\xAF\x86\xE9\x92\xA5",              // 密钥
};

// What stands in for a withheld value.
inline constexpr std::string_view kProtectedValue = "[protected]";

// The summary rule: a secure text field, or a role and label that mention a sensitive word.
bool isSensitiveSummary(std::string_view role, std::string_view label);

// The field-value rule: whether a value must be withheld from a tree row. Secure fields always;
// text-entry fields when their label names a password, a one-time code and the like.
bool isSensitiveAXField(std::string_view role, std::string_view subrole, std::string_view label);

// A role a user types a value into (entries, combo boxes, spin buttons).
bool isTextEntryRole(std::string_view role);

// "[protected]" without calling `read` when the value is protected; otherwise what it reads.
std::string observedAXValue(bool isProtected, const std::function<std::string()>& read);

}  // namespace tavren
