#include "app_shell/host_options.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// Catches an option value lost, taken from the wrong place, or an empty one accepted.
TEST(HostOptions, ReadsTheInterfaceSocket) {
  EXPECT_EQ(parseHostOptions({"--interface-socket", "/run/x.sock"}).options.interfaceSocket,
            "/run/x.sock");
  EXPECT_EQ(parseHostOptions({"--interface-socket=/a b"}).options.interfaceSocket, "/a b");
  EXPECT_EQ(parseHostOptions({"-NSDocumentRevisionsDebugMode", "YES"}).options.interfaceSocket,
            std::nullopt);
  EXPECT_TRUE(parseHostOptions({"--interface-socket"}).error.has_value());
  EXPECT_TRUE(parseHostOptions({"--interface-socket", ""}).error.has_value());
  EXPECT_TRUE(parseHostOptions({"--interface-socket="}).error.has_value());
  EXPECT_TRUE(parseHostOptions({"--help"}).options.help);
}

}  // namespace
}  // namespace korvane
