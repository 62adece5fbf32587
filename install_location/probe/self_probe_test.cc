#include "install_location/probe/self_probe.h"

#include <gtest/gtest.h>

#include "testing/bundle_maker.h"
#include "testing/fake_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

// Catches a walk that counts the bundle itself or the root, or stops early.
TEST(SelfProbe, IsNestedLooksAtEveryEnclosingFolder) {
  struct Case {
    const char* path;
    bool nested;
  } cases[] = {
      {"/Applications/Outer.app/Contents/Helpers/Inner.app", true},
      {"/Applications/Inner.app", false},
      {"/Inner.app", false},
      {"/a/Fake.app/b/c/d/Inner.app", true},  // only the extension counts
      {"/a/Fake.APP/Inner.app", false},
      {"/a/b.app.bak/Inner.app", false},
      {"Outer.app/Inner.app", true},
      {"Inner.app", false},
      {"/", false},
  };
  for (const auto& c : cases) EXPECT_EQ(isNested(c.path), c.nested) << c.path;
}

class SelfProbeTest : public ::testing::Test {
 protected:
  ResultMap probeAt(const std::string& path) {
    test_.bundles.main.path = path;
    return probeMap(test_.services);
  }
  bool entry(const ResultMap& map, const char* key) {
    const EncodableValue* value = map.find(key);
    EXPECT_NE(value, nullptr) << key;
    return value != nullptr && value->asBool() != nullptr && *value->asBool();
  }

  testing::TempDir dir_;
  testing::TestServices test_;
};

// Catches wrong keys, extra keys, a different order, or non-boolean values.
TEST_F(SelfProbeTest, AnswersExactlyFiveBooleans) {
  const ResultMap map = probeAt(dir_.file("Korvane.app"));
  std::vector<std::string> keys;
  for (const auto& [k, v] : map) {
    keys.push_back(*k.asString());
    EXPECT_NE(v.asBool(), nullptr) << *k.asString();
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"isDevBuild", "bundleResolves", "isNested",
                                            "isReadOnlyVolume", "isTranslocated"}));
  EXPECT_FALSE(entry(map, "isTranslocated"));
}

// Catches case-insensitive or slash-less development-path tests.
TEST_F(SelfProbeTest, DevBuildPaths) {
  EXPECT_TRUE(
      entry(probeAt("/Users/a/Library/Developer/Xcode/DerivedData/K/Korvane.app"), "isDevBuild"));
  EXPECT_TRUE(entry(probeAt("/src/build/Build/Products/Debug/Korvane.app"), "isDevBuild"));
  EXPECT_FALSE(entry(probeAt("/Users/a/derivedData/Korvane.app"), "isDevBuild"));
  EXPECT_FALSE(entry(probeAt("/x/DerivedData"), "isDevBuild"));  // no trailing slash
  EXPECT_FALSE(entry(probeAt("/Applications/Korvane.app"), "isDevBuild"));
}

// Catches a resolve test that ignores the extension's case or the info file.
TEST_F(SelfProbeTest, BundleResolvesNeedsAppAndInfoFile) {
  ASSERT_TRUE(testing::makeBundle(dir_.file("Good.app"), testing::bundleInfo("a", "1")));
  ASSERT_TRUE(testing::makeBundle(dir_.file("Caps.APP"), testing::bundleInfo("a", "1")));
  EXPECT_TRUE(entry(probeAt(dir_.file("Good.app")), "bundleResolves"));
  EXPECT_FALSE(entry(probeAt(dir_.file("Caps.APP")), "bundleResolves"));
  EXPECT_FALSE(entry(probeAt(dir_.file("Missing.app")), "bundleResolves"));
  EXPECT_FALSE(entry(probeAt(dir_.path()), "bundleResolves"));  // no extension at all
}

// Catches the volume flag read wrongly or a failing status read as read-only.
TEST_F(SelfProbeTest, ReadOnlyVolumeFlag) {
  EXPECT_FALSE(entry(probeAt(dir_.path()), "isReadOnlyVolume"));  // a writable temp folder
  test_.fileSystem.readOnlyVolume = std::optional<bool>(true);
  EXPECT_TRUE(entry(probeAt(dir_.path()), "isReadOnlyVolume"));
  test_.fileSystem.readOnlyVolume = std::optional<bool>(std::nullopt);
  EXPECT_FALSE(entry(probeAt(dir_.path()), "isReadOnlyVolume"));
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
