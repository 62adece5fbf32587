#include "install_location/probe/running_instances.h"

#include <gtest/gtest.h>

#include "platform/process.h"
#include "testing/fake_services.h"

namespace korvane::InstallLocationProbe {
namespace {

using testing::runningApp;

class RunningInstancesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_.bundles.main.path = "/Applications/Korvane.app";
    test_.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", "com.example.korvane"}};
  }
  testing::TestServices test_;
  const int32_t self_ = currentProcessIdentifier();
};

// Catches this process matched, another application matched by path, paths
// compared unstandardized or without case, or a later match preferred.
TEST_F(RunningInstancesTest, RunningAppAtPathFindsTheFirstOtherInstance) {
  test_.workspace.running = {
      runningApp(self_, "com.example.korvane", "/Applications/Korvane.app"),
      runningApp(100, "com.other", "/Applications/Korvane.app"),
      runningApp(101, std::nullopt, "/Applications/Korvane.app"),
      runningApp(102, "com.example.korvane", std::nullopt),
      runningApp(103, "com.example.korvane", "/Applications/Korvane.app"),
      runningApp(104, "com.example.korvane", "/Applications/Korvane.app"),
      runningApp(105, "com.example.korvane", "/Users/u/Applications/Korvane.app"),
  };
  auto found = runningAppAtPath(test_.services, "/Applications/Korvane.app");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->processIdentifier, 103);
  for (const char* spelling : {"/Applications/Korvane.app/", "/Applications/./Korvane.app",
                               "/Applications/x/../Korvane.app", "//Applications//Korvane.app"}) {
    auto again = runningAppAtPath(test_.services, spelling);
    ASSERT_TRUE(again) << spelling;
    EXPECT_EQ(again->processIdentifier, 103) << spelling;
  }
  EXPECT_FALSE(runningAppAtPath(test_.services, "/applications/korvane.app"));
  EXPECT_EQ(
      runningAppAtPath(test_.services, "/Users/u/Applications/Korvane.app")->processIdentifier,
      105);
}

// Catches the own process found when it is the only one running from the path.
TEST_F(RunningInstancesTest, NeverThisProcess) {
  test_.workspace.running = {runningApp(self_, "com.example.korvane", "/Applications/Korvane.app")};
  EXPECT_FALSE(runningAppAtPath(test_.services, "/Applications/Korvane.app"));
  EXPECT_TRUE(runningSiblingPaths(test_.services).empty());
}

// Catches a lookup without an own identifier matching instances with none.
TEST_F(RunningInstancesTest, NoOwnIdentifierFindsNothingAtAPath) {
  test_.bundles.main.info = std::nullopt;
  test_.workspace.running = {runningApp(200, std::nullopt, "/Applications/Korvane.app")};
  EXPECT_FALSE(runningAppAtPath(test_.services, "/Applications/Korvane.app"));
  // The sibling list treats two absent identifiers as equal.
  EXPECT_EQ(runningSiblingPaths(test_.services),
            std::vector<std::string>{"/Applications/Korvane.app"});
}

// Catches siblings de-duplicated, reordered, unstandardized, or taken from
// other applications or processes without a bundle.
TEST_F(RunningInstancesTest, SiblingPathsKeepOrderAndRepeats) {
  test_.workspace.running = {
      runningApp(300, "com.example.korvane", "/Volumes/Korvane/Korvane.app/"),
      runningApp(self_, "com.example.korvane", "/Applications/Korvane.app"),
      runningApp(301, "com.other", "/Applications/Other.app"),
      runningApp(302, "com.example.korvane", std::nullopt),
      runningApp(303, "com.example.korvane", "/Applications/./Korvane.app"),
      runningApp(304, "com.example.korvane", "/Applications/Korvane.app"),
  };
  EXPECT_EQ(runningSiblingPaths(test_.services),
            (std::vector<std::string>{"/Volumes/Korvane/Korvane.app", "/Applications/Korvane.app",
                                      "/Applications/Korvane.app"}));
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
