#include "install_location/probe/candidate_probe.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testing/bundle_maker.h"
#include "testing/fake_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

ResultMap expected(const char* identity, int64_t build, bool running) {
  return ResultMap{
      {"identity", identity}, {"build", EncodableValue::integer(build)}, {"running", running}};
}

class CandidateProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_.bundles.main.path = dir_.file("Self.app");
    test_.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", "com.example.korvane"}};
    ASSERT_TRUE(testing::makeBundle(dir_.file("Copy.app"),
                                    testing::bundleInfo("com.example.korvane", "1234")));
    ASSERT_TRUE(testing::makeBundle(dir_.file("Other.app"), testing::bundleInfo("com.other", "77"),
                                    testing::PlistFormat::binary));
    ASSERT_TRUE(testing::makeBundle(dir_.file("Dotted.app"),
                                    testing::bundleInfo("com.example.korvane", "1.2.3")));
    ASSERT_TRUE(testing::makeBundle(dir_.file("NoId.app"), {{"CFBundleVersion", "9"}}));
    ASSERT_EQ(mkdir(dir_.file("Bare.app").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir_.file("Copy.app").c_str(), dir_.file("Link.app").c_str()), 0);
    ASSERT_EQ(symlink(dir_.file("nowhere").c_str(), dir_.file("Dangling.app").c_str()), 0);
    ASSERT_EQ(symlink(dir_.path().c_str(), dir_.file("via").c_str()), 0);
  }

  ResultMap probe(std::optional<std::string> path, bool running) {
    return probeCandidate(test_.services, path, running);
  }

  testing::TempDir dir_;
  testing::TestServices test_;
};

// Catches a wrong identity text, a build not read, or the running flag lost.
TEST_F(CandidateProbeTest, AnswersEachKindOfPath) {
  EXPECT_EQ(probe(std::nullopt, true), expected("absent", 0, false));
  EXPECT_EQ(probe(dir_.file("Copy.app"), true), expected("sameBundle", 1234, true));
  EXPECT_EQ(probe(dir_.file("Copy.app"), false), expected("sameBundle", 1234, false));
  EXPECT_EQ(probe(dir_.file("Other.app"), false), expected("differentBundle", 77, false));
  EXPECT_EQ(probe(dir_.file("Dotted.app"), false), expected("sameBundle", 0, false));
  EXPECT_EQ(probe(dir_.file("NoId.app"), false), expected("unreadable", 9, false));
  EXPECT_EQ(probe(dir_.file("Bare.app"), false), expected("unreadable", 0, false));
  EXPECT_EQ(probe(dir_.file("Missing.app"), true), expected("absent", 0, true));
  EXPECT_EQ(probe("", false), expected("absent", 0, false)) << "an empty path is a path";
}

// Catches a final symbolic link followed, or an earlier one not followed.
TEST_F(CandidateProbeTest, FinalLinksAreUnreadable) {
  EXPECT_EQ(probe(dir_.file("Link.app"), true), expected("unreadable", 0, true));
  EXPECT_EQ(probe(dir_.file("Dangling.app"), false), expected("unreadable", 0, false));
  EXPECT_EQ(probe(dir_.file("via/Copy.app"), false), expected("sameBundle", 1234, false));
}

// Catches a running bundle without identifier matching a candidate's identifier.
TEST_F(CandidateProbeTest, NoOwnIdentifierMakesOthersDifferent) {
  test_.bundles.main.info = std::nullopt;
  EXPECT_EQ(probe(dir_.file("Copy.app"), false), expected("differentBundle", 1234, false));
}

// Catches the Info.plist read twice for one probe.
TEST_F(CandidateProbeTest, ReadsTheInfoFileOnce) {
  probe(dir_.file("Copy.app"), false);
  EXPECT_EQ(test_.bundles.infoReads, 1);
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
