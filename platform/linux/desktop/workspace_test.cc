#include "platform/workspace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/dispatch_queue.h"
#include "platform/linux/desktop/application_launch.h"
#include "platform/linux/desktop/application_open.h"
#include "platform/main_loop.h"
#include "platform/main_thread.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// "<pid> <identifier> <bundle>".
std::string describe(const RunningApplication& a) {
  return std::to_string(a.processIdentifier) + " " + a.bundleIdentifier.value_or("-") + " " +
         (a.bundleURL ? a.bundleURL->path() : "-");
}

// The application that answered an open of `bundle` on this thread, or the error.
std::string openBundle(const std::string& bundle, OpenConfiguration configuration = {},
                       std::chrono::milliseconds limit = 5s) {
  const auto o =
      openApplication({bundle, configuration, InterfaceAddressInputs::fromProcess(std::nullopt),
                       environmentForLaunch(), limit});
  return o.application ? describe(*o.application) : o.error->localizedDescription;
}

// Catches requests to one instance overtaking each other on their way (each goes on its own
// connection), an open that skips "activate" or completes twice, on the main thread or with the
// wrong process; substitution ignored (a second copy started) or applied when it is not allowed;
// "creates new application instance" ignored; a started copy reported before it answers; and an
// open that hangs past its time limit, or fails without naming the bundle and the reason: bundles
// that cannot be started, and executables that end or never answer.
TEST(Workspace, RequestsReachTheRightInstanceInOrderOrFailSayingWhy) {
  testing::TempDir dir;
  testing::ScopedSocketFolders folders(dir.path());
  const auto inputs = InterfaceAddressInputs::fromProcess(std::nullopt);
  // Every process of this user is a candidate: an identifier of this test process's own keeps
  // others' stand-ins out.
  const std::string id = "com.example.korvane-test." + std::to_string(getpid());
  const std::string running = dir.file("Running.app"), idle = dir.file("Idle.app");
  for (const std::string& bundle : {running, idle})
    ASSERT_TRUE(testing::makeAppBundle(bundle, id, "TestApp", testing::standInAppBinary()));
  testing::StartedProcess instance(running + "/Contents/MacOS/TestApp");
  ASSERT_EQ(testing::requestsSeenBy(inputs, instance.pid()), "requests=");
  const RunningApplication target{instance.pid(), id, FileURL::fileURLWithPath(running)};
  Workspace& w = realWorkspace();
  EXPECT_TRUE(w.unhide(target) &&
              w.activate(target, ActivationOptions::activateIgnoringOtherApps) && w.unhide(target));
  const auto seen = std::make_shared<Lines>();  // main thread only; may outlive a failed wait
  w.openApplicationAtURL(FileURL::fileURLWithPath(idle + "/"), {}, [seen](auto app, auto) {
    const std::string text = isMainThread() || !app ? "wrong" : describe(*app);
    mainQueue().async([seen, text] { seen->push_back(text); });
  });
  runMainLoopUntil([&] { return !seen->empty(); });
  runMainLoopFor(100ms);  // room for a second completion
  EXPECT_EQ(*seen, Lines{describe(target)});
  EXPECT_EQ(openBundle(running + "/.", {.activates = false}), describe(target));
  for (const auto& [bundle, configuration] :
       {std::pair{idle, OpenConfiguration{.allowsRunningApplicationSubstitution = false}},
        {running, OpenConfiguration{.createsNewApplicationInstance = true}}}) {
    const std::string outcome = openBundle(bundle, configuration);
    const int32_t pid = std::atoi(outcome.c_str());
    testing::AdoptedProcess started(pid);
    EXPECT_EQ(outcome, describe({pid, id, FileURL::fileURLWithPath(bundle)}));
    EXPECT_EQ(testing::requestsSeenBy(inputs, pid), "requests=ping");
  }
  EXPECT_EQ(testing::requestsSeenBy(inputs, instance.pid()),
            "requests=unhide,activate,unhide,activate,reopen,reopen");
  // Info.plist's CFBundleExecutable (nullptr: no Info.plist at all), Contents/MacOS/Run (when not
  // empty), and why the open fails ("<pid>" stands for the started process's).
  // clang-format off
  const struct { const char* executable; std::string file, reason; } cases[] = {
      {"Run", "#!/bin/sh\n", "Contents/MacOS/Run (pid <pid>) ended before it answered"},
      {"Run", "#!/bin/sh\nexec sleep 30\n", "Contents/MacOS/Run (pid <pid>) did not answer within 300 ms"},
      {"Run", "\177ELF?", "Contents/MacOS/Run could not be started (Exec format error)"},
      {"Run", "", "Contents/MacOS/Run is missing"},
      {"../../Run", "", "CFBundleExecutable \"../../Run\" is not a plain file name"},
      {nullptr, "", "Contents/Info.plist is missing or unreadable"}};
  // clang-format on
  for (const auto& c : cases) {
    const std::string bundle = dir.file("Case" + std::to_string(&c - cases) + ".app");
    ASSERT_TRUE(!c.executable ||
                testing::makeBundle(bundle, {{"CFBundleExecutable", std::string(c.executable)}}));
    fs::create_directories(bundle + "/Contents/MacOS");
    if (!c.file.empty()) std::ofstream(bundle + "/Contents/MacOS/Run") << c.file;
    chmod((bundle + "/Contents/MacOS/Run").c_str(), S_IRWXU);  // when there is one
    const auto started = std::chrono::steady_clock::now();
    std::string text = openBundle(bundle + "/./", {}, 300ms);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << c.reason;
    const size_t pid = text.find("(pid ");
    const bool leftRunning = text.find("did not answer") != std::string::npos;
    testing::AdoptedProcess slow(leftRunning ? std::atoi(text.c_str() + pid + 5) : 0);
    if (pid != std::string::npos) text.replace(pid + 5, text.find(')', pid) - pid - 5, "<pid>");
    EXPECT_EQ(text, "cannot open the application at " + bundle + ": " + c.reason);
  }
}

// Catches a started copy of the host inheriting this host's interface socket (the two would
// collide) or losing the rest of the environment, one tied to this process's session, folder or
// streams, and one left behind as a zombie when it ends.
TEST(ApplicationLaunch, StartsDetachedWithItsOwnEnvironmentAndIsReaped) {
  testing::TempDir dir;
  const std::string probe = dir.file("probe"), report = dir.file("report");
  std::ofstream(probe) << "#!/bin/sh\necho $(cut -d' ' -f6 /proc/$$/stat) $$ $(pwd) ${PATH:+path} "
                       << "${KORVANE_INTERFACE_SOCKET-unset} $(readlink /proc/$$/fd/[012] | uniq) >"
                       << report << ".part; mv " << report << ".part " << report << "\n";
  chmod(probe.c_str(), S_IRWXU);
  setenv("KORVANE_INTERFACE_SOCKET", "/run/this-host.sock", 1);
  const LaunchResult launched = launchApplication(probe, environmentForLaunch());
  unsetenv("KORVANE_INTERFACE_SOCKET");
  ASSERT_TRUE(runMainLoopUntil([&] { return fs::exists(report); })) << launched.error.message();
  const std::string pid = std::to_string(launched.pid);  // it leads a session of its own
  EXPECT_EQ(testing::readFile(report), pid + " " + pid + " / path unset /dev/null\n");
  EXPECT_TRUE(testing::awaitReaped(launched.pid, 10s));
}

}  // namespace
}  // namespace korvane
