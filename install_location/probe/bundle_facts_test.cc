// Facts read out of bundles: the build number (bundle_facts.h), a candidate path
// (candidate_probe.h) and the running copy (self_probe.h).
#include "install_location/probe/bundle_facts.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "install_location/probe/candidate_probe.h"
#include "install_location/probe/self_probe.h"
#include "testing/bundle_maker.h"
#include "testing/fakes/test_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

namespace fs = std::filesystem;

// A build number read loosely (spaces, signs, radixes, overflow) would misorder updates.
TEST(BundleFacts, ParseBuildNumberTakesOnlyWholeSignedDecimals) {
  EXPECT_EQ(parseBuildNumber("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(parseBuildNumber("+9223372036854775807"), INT64_MAX);
  EXPECT_EQ(parseBuildNumber("-0042"), -42);
  for (const char* bad : {"9223372036854775808", "-9223372036854775809", "1.2.3", "0x10", "-", "",
                          " 4", "4 ", "+-1", "\xd9\xa4"}) {  // the last: an Arabic-Indic digit
    EXPECT_EQ(parseBuildNumber(bad), 0) << bad;
  }
}

// A name that is empty, holds "/" or NUL, or is missing must not name the copy's folder.
TEST(BundleFacts, CanonicalNameFallsBackToTheRunningFolder) {
  testing::TestServices test;
  test.bundles.main.path = "/A/Run.app";
  for (const auto& [name, expected] :
       std::vector<std::pair<std::optional<std::string>, std::string>>{
           {"Korvane", "Korvane.app"},
           {"", "Run.app"},
           {"a/b", "Run.app"},
           {std::string("K\0x", 3), "Run.app"},
           {std::nullopt, "Run.app"}}) {
    test.bundles.main.info = PropertyListStrings{};
    if (name) test.bundles.main.info->emplace("CFBundleName", *name);
    EXPECT_EQ(canonicalBundleDirName(test.services), expected);
  }
}

// A wrong identity, build or running flag, or a link read through, would misjudge a candidate.
TEST(BundleFacts, ProbeCandidateAnswersEachKindOfPath) {
  testing::TempDir dir;
  testing::TestServices test;
  test.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", "com.example.korvane"}};
  ASSERT_TRUE(testing::makeBundle(dir.file("Copy.app"),
                                  testing::bundleInfo("com.example.korvane", "1234")));
  ASSERT_TRUE(testing::makeBundle(dir.file("Other.app"),
                                  testing::bundleInfo("com.Example.korvane", "1.2"),
                                  testing::PlistFormat::binary));
  fs::create_directory(dir.file("Bare.app"));
  fs::create_directory_symlink(dir.file("Copy.app"), dir.file("Link.app"));
  fs::create_directory_symlink(dir.path(), dir.file("via"));
  const auto probe = [&](const char* name, bool running) {
    return probeCandidate(test.services, dir.file(name), running);
  };
  const auto answer = [](const char* identity, int64_t build, bool running) {
    return ResultMap{
        {"identity", identity}, {"build", EncodableValue::integer(build)}, {"running", running}};
  };
  EXPECT_EQ(probeCandidate(test.services, std::nullopt, true), answer("absent", 0, false));
  EXPECT_EQ(probe("Missing.app", true), answer("absent", 0, true));
  EXPECT_EQ(probe("via/Copy.app", true), answer("sameBundle", 1234, true));
  EXPECT_EQ(probe("Other.app", false), answer("differentBundle", 0, false));
  EXPECT_EQ(probe("Bare.app", false), answer("unreadable", 0, false));
  EXPECT_EQ(probe("Link.app", true), answer("unreadable", 0, true));
  test.bundles.main.info = std::nullopt;
  EXPECT_EQ(probe("Copy.app", false), answer("differentBundle", 1234, false));
  EXPECT_EQ(test.bundles.infoReads, 4);  // once per bundle probed; never through a link
}

// A wrong key, a loose path test, or an unknown volume taken as read-only would misplace the copy.
TEST(BundleFacts, ProbeMapDescribesTheRunningCopy) {
  testing::TempDir dir;
  testing::TestServices test;
  ASSERT_TRUE(testing::makeBundle(dir.file("Caps.APP"), {}));
  ASSERT_TRUE(testing::makeBundle(dir.file("Out.app/Contents/In.app"), {}));
  const auto probeAt = [&](std::string path, bool dev, bool resolves, bool nested, bool readOnly) {
    test.bundles.main.path = path;
    EXPECT_EQ(probeMap(test.services), (ResultMap{{"isDevBuild", dev},
                                                  {"bundleResolves", resolves},
                                                  {"isNested", nested},
                                                  {"isReadOnlyVolume", readOnly},
                                                  {"isTranslocated", false}}))
        << path;
  };
  probeAt(dir.file("Out.app/Contents/In.app"), false, true, true, false);
  probeAt(dir.file("Caps.APP"), false, false, false, false);
  probeAt(dir.file("Missing.app"), false, false, false, false);
  probeAt("/x/DerivedData/K/Korvane.app", true, false, false, false);
  probeAt("/x/Build/Products/K.app", true, false, false, false);
  probeAt("/x/derivedData/K.app", false, false, false, false);
  probeAt("/x/DerivedData", false, false, false, false);
  probeAt("/a/X.app/b/c/In.app", false, false, true, false);
  probeAt("/a/X.APP/b.app.bak/In.app", false, false, false, false);
  test.fileSystem.readOnlyVolume = std::optional<bool>(true);
  probeAt("/In.app", false, false, false, true);
  test.fileSystem.readOnlyVolume = std::optional<bool>(std::nullopt);
  probeAt("/In.app", false, false, false, false);
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
