#include "install_location/channel/argument_rule.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

struct ArgumentCase {
  const char* name;
  EncodableValue arguments;
  std::optional<std::string> path;
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

EncodableValue mapOf(EncodableMap map) { return EncodableValue(std::move(map)); }

class ArgumentRuleTest : public ::testing::TestWithParam<ArgumentCase> {};

// Catches a rule that accepts arguments in a shape the interface never meant,
// or that alters a present argument.
TEST_P(ArgumentRuleTest, ReadsPathByTheRule) {
  EXPECT_EQ(stringArgument(GetParam().arguments, "path"), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ArgumentRuleTest,
    ::testing::Values(
        ArgumentCase{"null", EncodableValue(), std::nullopt},
        ArgumentCase{"list", EncodableValue(EncodableList{"path", "/tmp"}), std::nullopt},
        ArgumentCase{"plain_string", EncodableValue("/tmp"), std::nullopt},
        ArgumentCase{"number", EncodableValue(int32_t{7}), std::nullopt},
        ArgumentCase{"empty_map", mapOf({}), std::nullopt},
        ArgumentCase{"non_string_key_beside_path",
                     mapOf({{"path", "/tmp"}, {EncodableValue(int32_t{1}), "x"}}), std::nullopt},
        ArgumentCase{"null_key", mapOf({{EncodableValue(), "x"}, {"path", "/tmp"}}), std::nullopt},
        ArgumentCase{"path_missing", mapOf({{"other", "/tmp"}}), std::nullopt},
        ArgumentCase{"path_null", mapOf({{"path", EncodableValue()}}), std::nullopt},
        ArgumentCase{"path_number", mapOf({{"path", EncodableValue(int32_t{42})}}), std::nullopt},
        ArgumentCase{"path_int64", mapOf({{"path", EncodableValue(int64_t{1} << 40)}}),
                     std::nullopt},
        ArgumentCase{"path_bool", mapOf({{"path", EncodableValue(true)}}), std::nullopt},
        ArgumentCase{"path_list", mapOf({{"path", EncodableValue(EncodableList{"/tmp"})}}),
                     std::nullopt},
        ArgumentCase{"path_bytes", mapOf({{"path", std::vector<uint8_t>{'/', 't'}}}), std::nullopt},
        ArgumentCase{"path_wrong_case_key", mapOf({{"Path", "/tmp"}}), std::nullopt},
        ArgumentCase{"path_plain", mapOf({{"path", "/tmp"}}), "/tmp"},
        ArgumentCase{"path_kept_verbatim", mapOf({{"path", " ~/a/../b/ "}}), " ~/a/../b/ "},
        ArgumentCase{"path_empty_string", mapOf({{"path", ""}}), ""},
        ArgumentCase{"path_relative", mapOf({{"path", "rel/x"}}), "rel/x"},
        ArgumentCase{"first_of_duplicates", mapOf({{"path", "/a"}, {"path", "/b"}}), "/a"}),
    [](const auto& test) { return std::string(test.param.name); });

// Catches "temp" and "dest" being read from one another's slot.
TEST(ArgumentRule, ReadsEachKeyOnItsOwn) {
  EncodableValue args = mapOf({{"dest", "/d"}, {"temp", EncodableValue(int32_t{1})}});
  EXPECT_EQ(stringArgument(args, "temp"), std::nullopt);
  EXPECT_EQ(stringArgument(args, "dest"), "/d");
}

}  // namespace
}  // namespace korvane
