#include "install_location/probe/bundle_facts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "testing/bundle_maker.h"
#include "testing/fake_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

using testing::PlistEntry;
using testing::PlistFormat;

struct BuildCase {
  const char* text;
  int64_t expected;
};

// Catches a parser that skips spaces, accepts separators or other radixes,
// overflows silently, or cannot reach the most negative value.
TEST(ParseBuildNumber, AcceptsOnlyWholeSignedDecimals) {
  const BuildCase cases[] = {
      {"42", 42},
      {"0042", 42},
      {"+7", 7},
      {"-3", -3},
      {"0", 0},
      {"-0", 0},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", 0},
      {"-9223372036854775809", 0},
      {"99999999999999999999", 0},
      {"1.2.3", 0},
      {"4a", 0},
      {"0x10", 0},
      {"+", 0},
      {"-", 0},
      {"", 0},
      {" 42", 0},
      {"42 ", 0},
      {"+-1", 0},
      {"--1", 0},
      {"\xd9\xa4", 0},  // an Arabic-Indic digit is not an ASCII digit
  };
  for (const auto& c : cases) EXPECT_EQ(parseBuildNumber(c.text), c.expected) << c.text;
}

class BundleFactsTest : public ::testing::TestWithParam<PlistFormat> {
 protected:
  std::string bundle(const std::string& name, const std::vector<PlistEntry>& entries) {
    std::string path = dir_.file(name);
    EXPECT_TRUE(testing::makeBundle(path, entries, GetParam()));
    return path;
  }

  testing::TempDir dir_;
  testing::TestServices test_;
  const PlatformServices& services_ = test_.services;
};

// Catches non-string values read as strings, and identifiers read from the wrong key.
TEST_P(BundleFactsTest, ReadsStringValuesOnly) {
  const std::string app = bundle("A.app", testing::bundleInfo("com.example.app", "1234"));
  EXPECT_EQ(rawBundleId(services_, app), "com.example.app");
  EXPECT_EQ(build(services_, app), 1234);

  const std::string numeric =
      bundle("N.app", {{"CFBundleIdentifier", int64_t{5}}, {"CFBundleVersion", int64_t{77}}});
  EXPECT_EQ(rawBundleId(services_, numeric), std::nullopt);
  EXPECT_EQ(build(services_, numeric), 0) << "a number is not a build string";

  const std::string dotted = bundle("D.app", testing::bundleInfo("", "1.2.3"));
  EXPECT_EQ(rawBundleId(services_, dotted), "") << "an empty identifier is still one";
  EXPECT_EQ(build(services_, dotted), 0);
}

// Catches identity mixing up its four cases or comparing without case.
TEST_P(BundleFactsTest, ClassifiesPaths) {
  const std::string mine = bundle("Mine.app", testing::bundleInfo("com.example.app", "1"));
  const std::string other = bundle("Other.app", testing::bundleInfo("com.Example.app", "1"));
  const std::string empty = dir_.file("Empty.app");
  ASSERT_EQ(mkdir(empty.c_str(), 0755), 0);
  ASSERT_EQ(symlink(dir_.file("nowhere").c_str(), dir_.file("Dangling.app").c_str()), 0);

  EXPECT_EQ(identity(services_, mine, "com.example.app"),
            CandidateIdentity::sameBundle("com.example.app"));
  EXPECT_EQ(identity(services_, other, "com.example.app"),
            CandidateIdentity::differentBundle("com.Example.app"));
  EXPECT_EQ(identity(services_, empty, "com.example.app"), CandidateIdentity::unreadable());
  EXPECT_EQ(identity(services_, dir_.file("Missing.app"), "x"), CandidateIdentity::absent());
  EXPECT_EQ(identity(services_, dir_.file("Dangling.app"), "x"), CandidateIdentity::absent());
  EXPECT_EQ(build(services_, empty), 0);
  EXPECT_EQ(build(services_, dir_.file("Missing.app")), 0);

  // With no identifier of its own, the caller passes "": only "" matches.
  const std::string blank = bundle("Blank.app", testing::bundleInfo("", "3"));
  EXPECT_EQ(identity(services_, blank, ""), CandidateIdentity::sameBundle(""));
  EXPECT_EQ(identity(services_, mine, ""), CandidateIdentity::differentBundle("com.example.app"));
}

INSTANTIATE_TEST_SUITE_P(BothFormats, BundleFactsTest,
                         ::testing::Values(PlistFormat::xml, PlistFormat::binary),
                         [](const auto& p) {
                           return std::string(p.param == PlistFormat::xml ? "xml" : "binary");
                         });

// Catches a canonical name taken from an unusable bundle name.
TEST(CanonicalBundleDirName, UsesTheBundleNameOnlyWhenUsable) {
  testing::TestServices test;
  struct Case {
    std::optional<std::string> name;
    std::string expected;
  } cases[] = {
      {"Korvane", "Korvane.app"},
      {"Kor vane Beta", "Kor vane Beta.app"},  // used unchanged
      {"", "Current Name.app"},
      {"Bad/Name", "Current Name.app"},
      {std::string("Nul\0Name", 8), "Current Name.app"},
      {std::nullopt, "Current Name.app"},
  };
  for (const auto& c : cases) {
    test.bundles.main.path = "/Applications/Current Name.app";
    test.bundles.main.info = PropertyListStrings{};
    if (c.name) (*test.bundles.main.info)["CFBundleName"] = *c.name;
    EXPECT_EQ(canonicalBundleDirName(test.services), c.expected) << c.name.value_or("(none)");
  }
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
