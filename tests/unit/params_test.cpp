#include <gtest/gtest.h>

#include "core/params.h"

namespace tavren {
namespace {

TEST(Params, NumbersReadLeniently) {
  Json p = Json::parse(R"({"n":2.5,"t":true,"f":false,"s":"3","a":[1],"o":{},"z":null})");
  EXPECT_EQ(number(p, "n"), 2.5);
  EXPECT_EQ(number(p, "t"), 1);
  EXPECT_EQ(number(p, "f"), 0);
  for (auto key : {"s", "a", "o", "z", "missing"}) EXPECT_EQ(number(p, key), 0) << key;
  EXPECT_EQ(number(Json::array(), "n"), 0);
}

TEST(Params, StringsAndBooleansOnlyFromTheirOwnTypes) {
  Json p = Json::parse(R"({"s":"x","n":1,"one":1,"zero":0,"two":2,"b":true,"str":"true"})");
  EXPECT_EQ(stringParam(p, "s"), "x");
  EXPECT_FALSE(stringParam(p, "n"));
  EXPECT_EQ(boolParam(p, "b"), true);
  EXPECT_EQ(boolParam(p, "one"), true);
  EXPECT_EQ(boolParam(p, "zero"), false);
  EXPECT_FALSE(boolParam(p, "two"));
  EXPECT_FALSE(boolParam(p, "str"));
  EXPECT_EQ(objectParam(p, "s"), nullptr);
}

TEST(Params, IntegersTruncateTowardZeroAndRefuseWhatDoesNotFit) {
  EXPECT_EQ(truncatedInteger<int32_t>(-7.9), -7);
  EXPECT_EQ(truncatedInteger<int32_t>(7.9), 7);
  EXPECT_EQ(truncatedInteger<int32_t>(2147483647.0), 2147483647);
  EXPECT_EQ(truncatedInteger<int32_t>(-2147483648.0), INT32_MIN);
  EXPECT_FALSE(truncatedInteger<int32_t>(2147483648.0));
  EXPECT_FALSE(truncatedInteger<int32_t>(3e9));
  EXPECT_EQ(truncatedInteger<uint32_t>(-0.5), 0u);
  EXPECT_FALSE(truncatedInteger<uint32_t>(-1));
  EXPECT_EQ(truncatedInteger<uint32_t>(4294967295.0), 4294967295u);
  EXPECT_FALSE(truncatedInteger<uint32_t>(4294967296.0));
  EXPECT_FALSE(truncatedInteger<uint16_t>(65536));
  EXPECT_FALSE(truncatedInteger<int64_t>(9.3e18));
  EXPECT_FALSE(truncatedInteger<uint64_t>(1.9e19));
  EXPECT_FALSE(truncatedInteger<int32_t>(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(truncatedInteger<int32_t>(std::numeric_limits<double>::quiet_NaN()));
}

}  // namespace
}  // namespace tavren
