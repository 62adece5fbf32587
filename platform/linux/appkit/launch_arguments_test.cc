#include "platform/appkit/launch_arguments.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// Catches an option value lost, taken from the wrong place, an empty one
// accepted, or an unknown argument treated as an error.
TEST(LaunchArguments, ReadsTheInterfaceSocket) {
  EXPECT_EQ(parseLaunchArguments({"--interface-socket", "/run/x.sock"}).arguments.interfaceSocket,
            "/run/x.sock");
  EXPECT_EQ(parseLaunchArguments({"--interface-socket=/a b"}).arguments.interfaceSocket, "/a b");
  const auto unknown = parseLaunchArguments({"-NSDocumentRevisionsDebugMode", "YES"});
  EXPECT_EQ(unknown.arguments.interfaceSocket, std::nullopt);
  EXPECT_EQ(unknown.error, std::nullopt);
  EXPECT_TRUE(parseLaunchArguments({"--interface-socket"}).error.has_value());
  EXPECT_TRUE(parseLaunchArguments({"--interface-socket", ""}).error.has_value());
  EXPECT_TRUE(parseLaunchArguments({"--interface-socket="}).error.has_value());
  EXPECT_TRUE(parseLaunchArguments({"--help"}).arguments.help);
  EXPECT_TRUE(parseLaunchArguments({"-h"}).arguments.help);
  EXPECT_FALSE(parseLaunchArguments({}).arguments.help);
}

}  // namespace
}  // namespace korvane
