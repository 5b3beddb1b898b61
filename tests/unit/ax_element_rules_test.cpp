// Attribute readers, element summaries, boxes and the two sensitivity rules.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "accessibility/attribute_readers.h"
#include "core/unicode_text.h"
#include "accessibility/element_summary.h"
#include "accessibility/sensitive_fields.h"

namespace tavren {
namespace {

TEST(AttributeReaders, WrongKindsAndFailedReadsGiveTheDefaults) {
  EXPECT_EQ(axString(std::string("Send")), "Send");
  EXPECT_EQ(axString(int64_t{5}), "");
  EXPECT_EQ(axString(std::monostate{}), "");

  EXPECT_TRUE(axBool(int64_t{2}));
  EXPECT_TRUE(axBool(true));
  EXPECT_FALSE(axBool(std::string("true")));
  EXPECT_FALSE(axBool(std::monostate{}));

  EXPECT_FALSE(axPoint(Size{1, 2}));
  EXPECT_EQ(axSize(Size{1, 2})->height, 2);

  EXPECT_EQ(axScalar(std::string(200, 'a')), std::string(120, 'a'));
  EXPECT_EQ(axScalar(int64_t{42}), "42");
  EXPECT_EQ(axScalar(0.25), "0.25");
  EXPECT_EQ(axScalar(3.0), "3");
  EXPECT_EQ(axScalar(true), "1");
  EXPECT_EQ(axScalar(OtherValue{}), "");

  EXPECT_EQ(axActions(std::nullopt), std::vector<std::string>{});
  EXPECT_EQ(axActions(std::vector<AttributeValue>{std::string("AXPress"), int64_t{7}}),
            std::vector<std::string>{});
  EXPECT_EQ(axActions(std::vector<AttributeValue>{std::string("AXPress")}),
            std::vector<std::string>{"AXPress"});
}

TEST(AttributeReaders, CutsKeepWholeCharacters) {
  // A thumbs-up with a skin tone is one character of two code points (eight bytes).
  const std::string thumbs = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";
  const std::string text = std::string(239, 'a') + thumbs + "tail";
  EXPECT_EQ(graphemePrefix(text, 240), std::string(239, 'a') + thumbs);
  EXPECT_EQ(graphemePrefix("e\xCC\x81z", 1), "e\xCC\x81");  // e + combining acute
  EXPECT_EQ(graphemePrefix("short", 240), "short");
}

AccessibilityElement element(AttributeValue role, AttributeValue title,
                             AttributeValue description = {}, AttributeValue help = {}) {
  AccessibilityElement e;
  e.role = std::move(role);
  e.title = std::move(title);
  e.description = std::move(description);
  e.help = std::move(help);
  return e;
}

TEST(ElementSummary, LabelIsTheFirstNonBlankTextUntrimmedAndCut) {
  EXPECT_EQ(summarizedElement(nullptr), Json::object());
  auto e = element(std::string("AXButton"), std::string("   "), std::string("Send"));
  EXPECT_EQ(summarizedElement(&e),
            (Json{{"role", "AXButton"}, {"label", "Send"}, {"sensitive", false}}));
  e = element(std::string("AXButton"), std::string("  Hi  "));
  EXPECT_EQ(summarizedElement(&e)["label"], "  Hi  ");
  e = element(std::monostate{}, int64_t{3}, std::monostate{}, std::string("Help me"));
  EXPECT_EQ(summarizedElement(&e),
            (Json{{"role", ""}, {"label", "Help me"}, {"sensitive", false}}));
  // The cut comes after the sensitivity test: a word past character 240 still counts.
  e = element(std::string("AXButton"), std::string(300, 'x') + " password");
  Json s = summarizedElement(&e);
  EXPECT_EQ(s["label"].get<std::string>().size(), 240u);
  EXPECT_EQ(s["sensitive"], true);
}

TEST(SensitivityRules, SummaryRuleIsAPlainSubstringTest) {
  EXPECT_TRUE(isSensitiveSummary("AXSecureTextField", ""));
  EXPECT_FALSE(isSensitiveSummary("axsecuretextfield", "Name"));
  EXPECT_TRUE(isSensitiveSummary("AXButton", "Reset API Key"));
  EXPECT_FALSE(isSensitiveSummary("AXButton", "APIKey"));
  EXPECT_TRUE(isSensitiveSummary("AXButton", "Forgot password?"));
  EXPECT_TRUE(isSensitiveSummary("AXTextField", "Tokens"));
  EXPECT_TRUE(isSensitiveSummary("AXTextField", "\xE8\xBE\x93\xE5\x85\xA5\xE5\xAF\x86\xE7\xA0\x81"));
  EXPECT_TRUE(isSensitiveSummary("AXButton", "PASSCODE"));  // lower-cased before the test
}

TEST(SensitivityRules, FieldRuleWithholdsOnlySecureAndNamedTextEntries) {
  EXPECT_TRUE(isSensitiveAXField("AXTextField", "", "One-Time Password"));
  EXPECT_TRUE(isSensitiveAXField("AXTextField", "", "Password hint"));
  EXPECT_TRUE(isSensitiveAXField("AXTextField", "", "onetimecode"));
  EXPECT_TRUE(isSensitiveAXField("AXComboBox", "", "Security  code"));
  EXPECT_TRUE(isSensitiveAXField("axtextarea", "", "OTP"));
  EXPECT_FALSE(isSensitiveAXField("AXTextField", "", "Passwords"));
  EXPECT_FALSE(isSensitiveAXField("AXTextField", "", "hotpot"));
  EXPECT_FALSE(isSensitiveAXField("AXStaticText", "", "Password"));
  EXPECT_TRUE(isSensitiveAXField("AXButton", "AXSecureTextField", "Anything"));
  EXPECT_TRUE(isSensitiveAXField("AXSecureTextField", "", ""));
  EXPECT_TRUE(isSensitiveAXField(
      "AXTextField", "", "\xE8\xAF\xB7\xE8\xBE\x93\xE5\x85\xA5\xE9\xAA\x8C\xE8\xAF\x81\xE7\xA0\x81"));
  EXPECT_FALSE(isSensitiveAXField("AXTextField", "", "Token"));  // a summary word, not a field term
}

TEST(SensitivityRules, ProtectedValuesAreNeverRead) {
  int reads = 0;
  auto read = [&] {
    ++reads;
    return std::string("secret");
  };
  EXPECT_EQ(observedAXValue(true, read), "[protected]");
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(observedAXValue(false, read), "secret");
  EXPECT_EQ(reads, 1);
}

TEST(ElementBox, RoundsHalvesAwayFromZeroAndZeroesWhatCannotBeReported) {
  ElementDetails d;
  d.position = Point{10.5, -3.5};
  EXPECT_EQ(axElementBox(d), (Json{{"x", 11}, {"y", -4}, {"w", 0}, {"h", 0}}));
  d.position = std::string("not a point");
  d.size = Size{2.5, -2.5};
  EXPECT_EQ(axElementBox(d), (Json{{"x", 0}, {"y", 0}, {"w", 3}, {"h", -3}}));
}

}  // namespace
}  // namespace tavren
