#include "platform/linux/desktop/application_launch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/main_loop.h"
#include "testing/instance_test_app.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
using korvane::testing::awaitReaped;
using korvane::testing::TempDir;

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string writeScript(const TempDir& dir, const std::string& name, const std::string& body) {
  const std::string path = dir.file(name);
  std::ofstream(path) << "#!/bin/sh\n" << body;
  chmod(path.c_str(), 0755);
  return path;
}

// Catches a started copy of the host inheriting this host's interface socket
// (the two would collide) or losing the rest of the environment.
TEST(ApplicationLaunchTest, EnvironmentLeavesOutTheInterfaceSocketOnly) {
  setenv("KORVANE_INTERFACE_SOCKET", "/run/this-host.sock", 1);
  setenv("KORVANE_LAUNCH_MARKER", "kept", 1);
  const std::vector<std::string> entries = environmentForLaunch();
  unsetenv("KORVANE_INTERFACE_SOCKET");
  unsetenv("KORVANE_LAUNCH_MARKER");
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "KORVANE_LAUNCH_MARKER=kept"), 1);
  EXPECT_TRUE(std::none_of(entries.begin(), entries.end(), [](const std::string& entry) {
    return entry.starts_with("KORVANE_INTERFACE_SOCKET=");
  }));
}

// Catches a started application tied to this process's terminal, folder,
// descriptors or environment, or left behind as a zombie when it ends.
TEST(ApplicationLaunchTest, StartsDetachedWithTheGivenEnvironmentAndIsReaped) {
  TempDir dir;
  const std::string report = dir.file("report");
  // A descriptor this process leaves open across exec on purpose.
  const int leaked = open(dir.file("leak").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(leaked, 3);
  const std::string script = writeScript(
      dir, "probe",
      "streams=\"$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) $(readlink /proc/$$/fd/2)\"\n"
      "{ pwd; echo \"marker=${MARKER-unset} socket=${KORVANE_INTERFACE_SOCKET-unset}\"\n"
      "  cut -d' ' -f6 /proc/$$/stat; echo $$; echo \"$streams\"\n"
      "  [ -e /proc/$$/fd/" +
          std::to_string(leaked) + " ] && echo leaked || echo closed; } > " + report +
          ".part && mv " + report + ".part " + report + "\n");
  const LaunchResult launched = launchApplication(script, {"MARKER=given", "PATH=/usr/bin:/bin"});
  close(leaked);
  ASSERT_NE(launched.pid, 0) << launched.error.message();
  ASSERT_TRUE(runMainLoopUntil([&] { return access(report.c_str(), F_OK) == 0; }, 10s));
  const std::string pid = std::to_string(launched.pid);
  // Working folder, environment, session (led by the process), streams, and
  // the descriptor left open here.
  EXPECT_EQ(readFile(report), "/\nmarker=given socket=unset\n" + pid + "\n" + pid +
                                  "\n/dev/null /dev/null /dev/null\nclosed\n");
  EXPECT_TRUE(awaitReaped(launched.pid, 10s));
  EXPECT_TRUE(launchedProcessHasEnded(launched.pid));
}

// Catches a running process taken for ended (or the reverse), and an exec
// failure reported as a start.
TEST(ApplicationLaunchTest, TellsRunningFromEndedAndReportsExecFailure) {
  TempDir dir;
  const std::string script = writeScript(dir, "sleeper", "exec sleep 30\n");
  const LaunchResult launched = launchApplication(script, {"PATH=/usr/bin:/bin"});
  ASSERT_NE(launched.pid, 0);
  testing::AdoptedProcess guard(launched.pid);
  EXPECT_FALSE(launchedProcessHasEnded(launched.pid));
  kill(launched.pid, SIGKILL);
  EXPECT_TRUE(runMainLoopUntil([&] { return launchedProcessHasEnded(launched.pid); }, 10s));
  EXPECT_TRUE(awaitReaped(launched.pid, 10s));

  std::ofstream(dir.file("garbage")) << "\x7f"
                                        "ELF not really";
  chmod(dir.file("garbage").c_str(), 0755);
  const LaunchResult failed = launchApplication(dir.file("garbage"), {});
  EXPECT_EQ(failed.pid, 0);
  EXPECT_EQ(failed.error, std::errc::executable_format_error) << failed.error.message();
}

}  // namespace
}  // namespace korvane
