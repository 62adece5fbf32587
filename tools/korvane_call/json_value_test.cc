#include "tools/korvane_call/json_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

namespace korvane::tools {
namespace {

// Catches JSON numbers sent with the wrong type or width, an unsigned integer
// beyond int64 wrapped to a negative number instead of refused, objects sent
// as lists, and lost nesting or order.
TEST(JsonValueTest, JsonBecomesChannelValues) {
  const struct {
    const char* json;
    std::optional<EncodableValue> expected;  // nullopt: refused, naming the number
  } cases[] = {
      {"null", EncodableValue()},
      {"true", EncodableValue(true)},
      {"7", EncodableValue(int32_t{7})},
      {"-2147483648", EncodableValue(int32_t{-2147483648})},
      {"2147483648", EncodableValue(int64_t{2147483648})},
      {"-2147483649", EncodableValue(int64_t{-2147483649})},
      {"9223372036854775807", EncodableValue(std::numeric_limits<int64_t>::max())},
      {"[18446744073709551615]", std::nullopt},
      {"1e3", EncodableValue(1000.0)},
      {"\"/Applications/Korvane.app\"", EncodableValue("/Applications/Korvane.app")},
      {"[1, \"a\", null, [true]]",
       EncodableValue(EncodableList{int32_t{1}, "a", EncodableValue(), EncodableList{true}})},
      {"{\"b\": {\"a\": 1}, \"a\": \"/t\"}",
       EncodableValue(EncodableMap{{"b", EncodableMap{{"a", int32_t{1}}}}, {"a", "/t"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    std::string error;
    const auto value = valueFromJson(Json::parse(c.json), error);
    EXPECT_EQ(value, c.expected) << error;
    if (!c.expected) {
      EXPECT_NE(error.find("18446744073709551615"), std::string::npos) << error;
    }
  }
}

// Catches typed lists, non-string keys or map order lost when a reply is printed.
TEST(JsonValueTest, ChannelValuesBecomeJson) {
  const struct {
    EncodableValue value;
    const char* expected;
  } cases[] = {
      {EncodableList{int32_t{-1}, int64_t{1} << 40, 0.25}, "[-1,1099511627776,0.25]"},
      {EncodableValue(std::nan("")), "null"},
      {std::vector<uint8_t>{0, 255}, "[0,255]"},
      {std::vector<int32_t>{-5, 5}, "[-5,5]"},
      {std::vector<int64_t>{int64_t{1} << 50}, "[1125899906842624]"},
      {std::vector<double>{1.5}, "[1.5]"},
      {std::vector<float>{0.5f}, "[0.5]"},
      {EncodableMap{{"z", 1}, {"a", 2}, {"1", "x"}}, R"({"z":1,"a":2,"1":"x"})"},
      {EncodableMap{{int32_t{1}, true}, {EncodableValue(), false}, {EncodableList{int32_t{2}}, 0}},
       R"({"1":true,"null":false,"[2]":0})"},
      {EncodableMap{{"candidates", EncodableList{EncodableMap{{"build", int64_t{5}}}}}},
       R"({"candidates":[{"build":5}]})"},
  };
  for (const auto& c : cases) EXPECT_EQ(jsonFromValue(c.value).dump(), c.expected);
}

}  // namespace
}  // namespace korvane::tools
