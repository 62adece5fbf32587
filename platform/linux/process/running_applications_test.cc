#include "platform/linux/process/running_applications.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/linux/ipc/instance_announcement.h"
#include "platform/linux/process/process_status.h"
#include "platform/workspace.h"
#include "testing/bundle_maker.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// A child process that runs until the object goes. start() returns once the
// child has exec'd (or has changed its user), so /proc shows its final state.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Runs `executable` (a copy of sleep) with a long duration.
  bool exec(const std::string& executable) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      char* argv[] = {const_cast<char*>(executable.c_str()), const_cast<char*>("600"), nullptr};
      execv(executable.c_str(), argv);
      _exit(127);
    }
    close(ready[1]);
    char byte;
    while (read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(ready[0]);  // end of file: the exec closed the child's end
    return pid_ > 0 && !exited();
  }

  // Forks a child that sets its real and effective (or only its effective)
  // user to `uid` and then waits.
  bool becomeUser(unsigned uid, bool onlyEffective) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      const int changed = onlyEffective ? seteuid(uid) : setresuid(uid, uid, uid);
      if (changed != 0) _exit(126);
      if (write(ready[1], "u", 1) != 1) _exit(125);
      for (;;) pause();
    }
    close(ready[1]);
    char byte = 0;
    const bool changed = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return pid_ > 0 && changed;
  }

  int32_t pid() const { return pid_; }

 private:
  bool exited() { return waitpid(pid_, nullptr, WNOHANG) == pid_ && (pid_ = -1, true); }
  pid_t pid_ = -1;
};

std::optional<RunningApplication> find(const std::vector<RunningApplication>& list, int32_t pid) {
  for (const auto& application : list) {
    if (application.processIdentifier == pid) return application;
  }
  return std::nullopt;
}

// The temporary folder as the kernel names it (links resolved): /proc
// reports executables by their real path.
std::string realPathOf(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

// Copies sleep to `to` (making its folders) as an executable.
bool placeSleep(const std::string& to) {
  std::error_code error;
  fs::create_directories(fs::path(to).parent_path(), error);
  const char* sleep = fs::exists("/bin/sleep") ? "/bin/sleep" : "/usr/bin/sleep";
  return fs::copy_file(sleep, to, fs::copy_options::overwrite_existing, error) &&
         (fs::permissions(to, fs::perms::owner_all, error), !error);
}

bool ascending(const std::vector<RunningApplication>& list) {
  for (size_t i = 1; i < list.size(); ++i) {
    if (list[i - 1].processIdentifier >= list[i].processIdentifier) return false;
  }
  return true;
}

// Catches a bundle process not recognised, its URL or identifier wrong, the
// list out of process order, a bundle given to a process outside any ".app",
// and the bundle lost once the running executable has been removed.
TEST(RunningApplications, ProcessesFromABundleCarryItsUrlAndIdentifier) {
  testing::TempDir dir;
  const std::string bundle = realPathOf(dir.path()) + "/Copy.app";
  ASSERT_TRUE(
      testing::makeBundle(bundle, {{"CFBundleIdentifier", std::string("com.example.copy")}}));
  const std::string executable = bundle + "/Contents/MacOS/sleep";
  ASSERT_TRUE(placeSleep(executable));
  Child first, second;
  ASSERT_TRUE(first.exec(executable));
  ASSERT_TRUE(second.exec(executable));

  auto list = runningApplicationsOfThisUser();
  EXPECT_TRUE(ascending(list));
  for (const Child* child : {&first, &second}) {
    const auto found = find(list, child->pid());
    ASSERT_TRUE(found.has_value()) << child->pid();
    ASSERT_TRUE(found->bundleURL.has_value());
    EXPECT_EQ(found->bundleURL->path(), bundle);
    EXPECT_EQ(found->bundleIdentifier, "com.example.copy");
  }
  const auto self = find(list, static_cast<int32_t>(getpid()));
  ASSERT_TRUE(self.has_value());
  EXPECT_FALSE(self->bundleURL.has_value());
  EXPECT_FALSE(self->bundleIdentifier.has_value());

  ASSERT_EQ(unlink(executable.c_str()), 0);
  list = runningApplicationsOfThisUser();
  const auto deleted = find(list, first.pid());
  ASSERT_TRUE(deleted.has_value());
  ASSERT_TRUE(deleted->bundleURL.has_value());
  EXPECT_EQ(deleted->bundleURL->path(), bundle);
  EXPECT_EQ(deleted->bundleIdentifier, "com.example.copy");
}

// Catches a bundle URL given to executables that are not directly in
// "<Name>.app/Contents/MacOS/", and an identifier made up for a bundle whose
// information list has none.
TEST(RunningApplications, OnlyExecutablesInAnAppBundleHaveOne) {
  testing::TempDir dir;
  const std::string root = realPathOf(dir.path());
  ASSERT_TRUE(testing::makeBundle(root + "/NoId.app", {{"CFBundleName", std::string("NoId")}}));
  ASSERT_TRUE(
      testing::makeBundle(root + "/Deep.app", testing::bundleInfo("com.example.deep", "1")));
  ASSERT_TRUE(testing::makeBundle(root + "/Upper.APP", testing::bundleInfo("com.example.up", "1")));
  struct Case {
    std::string executable;
    std::optional<std::string> bundle;
  };
  const Case cases[] = {
      {root + "/NoId.app/Contents/MacOS/sleep", root + "/NoId.app"},
      {root + "/NoInfo.app/Contents/MacOS/sleep", root + "/NoInfo.app"},
      {root + "/Deep.app/Contents/MacOS/bin/sleep", std::nullopt},
      {root + "/Upper.APP/Contents/MacOS/sleep", std::nullopt},
      {root + "/bin/sleep", std::nullopt},
  };
  Child children[std::size(cases)];
  for (size_t i = 0; i < std::size(cases); ++i) {
    ASSERT_TRUE(placeSleep(cases[i].executable));
    ASSERT_TRUE(children[i].exec(cases[i].executable)) << cases[i].executable;
  }
  const auto list = runningApplicationsOfThisUser();
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto found = find(list, children[i].pid());
    ASSERT_TRUE(found.has_value()) << cases[i].executable;
    EXPECT_FALSE(found->bundleIdentifier.has_value()) << cases[i].executable;
    if (cases[i].bundle) {
      ASSERT_TRUE(found->bundleURL.has_value()) << cases[i].executable;
      EXPECT_EQ(found->bundleURL->path(), *cases[i].bundle);
    } else {
      EXPECT_FALSE(found->bundleURL.has_value()) << cases[i].executable;
    }
  }
}

// Catches the user taken from the effective user (or from the owner of
// "/proc/<pid>", which follows it) instead of the real one: a process whose
// real user is another is left out, one that changed only its effective user
// stays.
TEST(RunningApplications, OnlyProcessesOfThisRealUser) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to start another user's process";
  Child other, effectiveOnly;
  ASSERT_TRUE(other.becomeUser(testing::kNobody, false));
  ASSERT_TRUE(effectiveOnly.becomeUser(testing::kNobody, true));
  const auto list = runningApplicationsOfThisUser();
  EXPECT_FALSE(find(list, other.pid()).has_value());
  EXPECT_TRUE(find(list, effectiveOnly.pid()).has_value());
}

using namespace std::chrono_literals;

// Catches an application that does not announce itself never found by the
// table, its identifier read again from disk once its bundle is gone (an
// update deleting the old copy), and one that has ended still listed.
TEST(RunningApplicationTable, LearnsQuietApplicationsOnceAndDropsEndedOnes) {
  testing::TempDir dir;
  const std::string bundle = realPathOf(dir.path()) + "/Quiet.app";
  ASSERT_TRUE(testing::makeBundle(bundle, testing::bundleInfo("com.example.quiet", "1")));
  ASSERT_TRUE(placeSleep(bundle + "/Contents/MacOS/sleep"));
  auto child = std::make_unique<Child>();
  ASSERT_TRUE(child->exec(bundle + "/Contents/MacOS/sleep"));
  const int32_t pid = child->pid();
  RunningApplicationTable& table = RunningApplicationTable::shared();

  ASSERT_TRUE(table.waitForNextLook(10s));
  auto found = find(table.applications(), pid);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->bundleIdentifier, "com.example.quiet");
  EXPECT_EQ(found->bundleURL->path(), bundle);
  EXPECT_TRUE(ascending(table.applications()));

  fs::remove_all(bundle);
  ASSERT_TRUE(table.waitForNextLook(10s));
  found = find(table.applications(), pid);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->bundleIdentifier, "com.example.quiet");

  child.reset();  // killed and reaped
  EXPECT_FALSE(find(table.applications(), pid).has_value());
}

// Catches an announced host not listed at once (before the table's next
// look), its announced facts not preferred over what the bundle on disk
// says, and an announcement trusted when its process has ended or its pid
// now names another process (another start time).
TEST(RunningApplicationTable, AnnouncementsCountAtOnceWhileTheirProcessRuns) {
  testing::TempDir dir;
  const std::string run = dir.file("run");
  fs::create_directories(run + "/korvane");
  fs::permissions(run, fs::perms::owner_all, fs::perm_options::replace);
  fs::permissions(run + "/korvane", fs::perms::owner_all, fs::perm_options::replace);
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::optional<std::string> savedRun =
      saved ? std::optional<std::string>(saved) : std::nullopt;
  setenv("XDG_RUNTIME_DIR", run.c_str(), 1);

  const std::string sleep = realPathOf(dir.path()) + "/bin/sleep";
  ASSERT_TRUE(placeSleep(sleep));
  Child announced, reused;
  ASSERT_TRUE(announced.exec(sleep));
  ASSERT_TRUE(reused.exec(sleep));
  const InstanceAnnouncement facts{announced.pid(), processStartTime(announced.pid()).value_or(0),
                                   "/nowhere/Announced.app", "com.example.announced\nforged"};
  ASSERT_FALSE(writeInstanceAnnouncement(run + "/korvane", facts));
  ASSERT_FALSE(writeInstanceAnnouncement(
      run + "/korvane", {reused.pid(), processStartTime(reused.pid()).value_or(0) + 1,
                         "/nowhere/Reused.app", "com.example.reused"}));
  const auto list = RunningApplicationTable::shared().applications();
  if (savedRun)
    setenv("XDG_RUNTIME_DIR", savedRun->c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");

  const auto found = find(list, announced.pid());
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->bundleIdentifier, facts.bundleIdentifier);
  EXPECT_EQ(found->bundleURL->path(), "/nowhere/Announced.app");
  EXPECT_FALSE(find(list, reused.pid()).has_value());
  EXPECT_TRUE(ascending(list));
}

}  // namespace
}  // namespace korvane
