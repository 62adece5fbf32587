#include "tools/korvane_call/json_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace korvane::tools {
namespace {

struct FromJson {
  const char* json;
  EncodableValue expected;
};

// Catches JSON numbers sent with the wrong type or width, objects sent as
// lists, and lost nesting or order.
TEST(JsonValueTest, JsonBecomesChannelValues) {
  const FromJson cases[] = {
      {"null", EncodableValue()},
      {"true", EncodableValue(true)},
      {"false", EncodableValue(false)},
      {"7", EncodableValue(int32_t{7})},
      {"-2147483648", EncodableValue(int32_t{-2147483648})},
      {"2147483648", EncodableValue(int64_t{2147483648})},
      {"-2147483649", EncodableValue(int64_t{-2147483649})},
      {"9223372036854775807", EncodableValue(std::numeric_limits<int64_t>::max())},
      {"1.5", EncodableValue(1.5)},
      {"1e3", EncodableValue(1000.0)},
      {"\"/Applications/Korvane.app\"", EncodableValue("/Applications/Korvane.app")},
      {"[]", EncodableValue(EncodableList{})},
      {"[1, \"a\", null, [true]]",
       EncodableValue(EncodableList{int32_t{1}, "a", EncodableValue(), EncodableList{true}})},
      {"{\"temp\": \"/t\", \"dest\": \"/d\"}",
       EncodableValue(EncodableMap{{"temp", "/t"}, {"dest", "/d"}})},
      {"{\"b\": {\"a\": 1}}", EncodableValue(EncodableMap{{"b", EncodableMap{{"a", int32_t{1}}}}})},
  };
  for (const FromJson& c : cases) {
    std::string error;
    const auto value = valueFromJson(Json::parse(c.json), error);
    ASSERT_TRUE(value.has_value()) << c.json << ": " << error;
    EXPECT_EQ(*value, c.expected) << c.json;
  }
}

// Catches an unsigned integer beyond int64 silently wrapped to a negative number.
TEST(JsonValueTest, IntegerBeyondSixtyFourBitsIsRefused) {
  std::string error;
  EXPECT_FALSE(valueFromJson(Json::parse("[18446744073709551615]"), error).has_value());
  EXPECT_NE(error.find("18446744073709551615"), std::string::npos) << error;
}

struct ToJson {
  const char* name;
  EncodableValue value;
  const char* expected;
};

// Catches typed lists, non-string keys or map order lost when a reply is printed.
TEST(JsonValueTest, ChannelValuesBecomeJson) {
  const ToJson cases[] = {
      {"null", EncodableValue(), "null"},
      {"integers of both widths", EncodableList{int32_t{-1}, int64_t{1} << 40},
       "[-1,1099511627776]"},
      {"double", EncodableValue(0.25), "0.25"},
      {"NaN", EncodableValue(std::nan("")), "null"},
      {"bytes", std::vector<uint8_t>{0, 255}, "[0,255]"},
      {"int32 list", std::vector<int32_t>{-5, 5}, "[-5,5]"},
      {"int64 list", std::vector<int64_t>{int64_t{1} << 50}, "[1125899906842624]"},
      {"float64 list", std::vector<double>{1.5}, "[1.5]"},
      {"float32 list", std::vector<float>{0.5f}, "[0.5]"},
      {"map keeps its order", EncodableMap{{"z", 1}, {"a", 2}}, R"({"z":1,"a":2})"},
      {"non-string keys",
       EncodableMap{{int32_t{1}, true}, {EncodableValue(), false}, {EncodableList{int32_t{2}}, 0}},
       R"({"1":true,"null":false,"[2]":0})"},
      {"string key that looks like JSON", EncodableMap{{"1", "x"}}, R"({"1":"x"})"},
      {"nested", EncodableMap{{"candidates", EncodableList{EncodableMap{{"build", int64_t{5}}}}}},
       R"({"candidates":[{"build":5}]})"},
  };
  for (const ToJson& c : cases) {
    EXPECT_EQ(jsonFromValue(c.value).dump(), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace korvane::tools
