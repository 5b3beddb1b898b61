#include <gtest/gtest.h>

#include "core/unicode_text.h"
#include "server/intake.h"

namespace tavren {
namespace {

RejectedLine rejected(std::string_view line) {
  auto r = takeInLine(line);
  EXPECT_TRUE(std::holds_alternative<RejectedLine>(r)) << line.substr(0, 80);
  return std::holds_alternative<RejectedLine>(r) ? std::get<RejectedLine>(r) : RejectedLine{};
}

AcceptedRequest accepted(std::string_view line) {
  auto r = takeInLine(line);
  EXPECT_TRUE(std::holds_alternative<AcceptedRequest>(r)) << line.substr(0, 80);
  return std::holds_alternative<AcceptedRequest>(r) ? std::get<AcceptedRequest>(r)
                                                     : AcceptedRequest{};
}

TEST(Intake, LinesThatAreNotObjectsAreInvalidJson) {
  for (std::string_view line : {"", " ", "[1,2]", "42", "\"text\"", "null", "{", "{\"id\":}",
                                "{\"id\":\"a\"} trailing"}) {
    auto r = rejected(line);
    EXPECT_EQ(r.id, "") << line;
    EXPECT_EQ(r.message, "Invalid JSON request") << line;
  }
}

TEST(Intake, NulBytesNeverPassAsJson) {
  using namespace std::string_literals;
  EXPECT_EQ(rejected("\0"s).message, "Invalid JSON request");
  EXPECT_EQ(rejected("{\"id\":\"a\0b\",\"version\":1}"s).message, "Invalid JSON request");
  EXPECT_EQ(rejected("{\"version\":1}\0"s).message, "Invalid JSON request");
}

TEST(Intake, VersionMustTruncateToOne) {
  EXPECT_EQ(rejected(R"({"id":"a"})").message, "Unsupported protocol version");
  EXPECT_EQ(rejected(R"({"id":"a"})").id, "a");
  for (auto v : {R"("1")", "2", "0", "0.99", "-1", "null", "[1]", "{}", "false"}) {
    std::string line = std::string(R"({"id":"x","version":)") + v + "}";
    auto r = rejected(line);
    EXPECT_EQ(r.message, "Unsupported protocol version") << v;
    EXPECT_EQ(r.id, "x") << v;
  }
  for (auto v : {"1", "1.0", "1.9", "true"}) {
    std::string line = std::string(R"({"id":"x","method":"ping","version":)") + v + "}";
    EXPECT_EQ(accepted(line).method, "ping") << v;
  }
}

TEST(Intake, IdAndMethodOfOtherTypesReadAsEmpty) {
  auto r = accepted(R"({"id":7,"version":1,"method":["ping"]})");
  EXPECT_EQ(r.id, "");
  EXPECT_EQ(r.method, "");
  EXPECT_EQ(rejected(R"({"id":7})").id, "");
  auto whole = accepted(R"({"id":"q","version":1,"method":"ping","extra":{"a":1}})");
  EXPECT_EQ(whole.request["extra"]["a"], 1);  // the whole object reaches the dispatcher
}

TEST(Intake, InvalidUtf8IsReplacedBeforeParsing) {
  auto r = accepted("{\"id\":\"a\xff\xfe" "b\",\"version\":1,\"method\":\"ping\"}");
  EXPECT_EQ(r.id, "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
  // A truncated sequence at the very end, and an overlong encoding of '/'.
  EXPECT_EQ(utf8Repaired("ok\xE2\x82"), "ok\xEF\xBF\xBD");
  EXPECT_EQ(utf8Repaired("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  const std::string valid = "caf\xC3\xA9 \xF0\x9F\x98\x80";
  EXPECT_EQ(utf8Repaired(valid), valid);
}

TEST(Intake, DeepNestingIsRefusedNotRecursed) {
  std::string deep(100000, '[');
  deep += std::string(100000, ']');
  EXPECT_EQ(rejected(deep).message, "Invalid JSON request");
  std::string inParams = R"({"id":"d","version":1,"method":"ping","params":)" + deep + "}";
  auto r = rejected(inParams);
  EXPECT_EQ(r.message, "Invalid JSON request");
  // Brackets inside strings do not count, and ordinary nesting passes.
  std::string text = R"({"id":"s","version":1,"params":{"t":")" + std::string(5000, '[') + R"("}})";
  EXPECT_EQ(accepted(text).id, "s");
  EXPECT_FALSE(nestsDeeperThan(R"({"a":"\"[[[["})", 2));
  EXPECT_TRUE(nestsDeeperThan("[[[]]]", 2));
  EXPECT_FALSE(nestsDeeperThan("[[]][[]]", 2));
}

}  // namespace
}  // namespace tavren
