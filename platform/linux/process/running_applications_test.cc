#include "platform/linux/process/running_applications.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/linux/ipc/instance_announcement.h"
#include "platform/linux/process/process_status.h"
#include "testing/stand_in_app.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Process = std::unique_ptr<testing::StartedProcess>;

// What `list` says of each of `pids`: its bundle path and identifier ("-" for none), or
// "absent"; "unsorted" first when the list is not in ascending process identifier.
std::string entries(const std::vector<RunningApplication>& list, std::vector<int32_t> pids) {
  std::string text;
  for (size_t i = 1; i < list.size(); ++i)
    if (list[i - 1].processIdentifier >= list[i].processIdentifier) text = "unsorted; ";
  for (const int32_t pid : pids) {
    const auto a = std::find_if(list.begin(), list.end(),
                                [pid](auto& e) { return e.processIdentifier == pid; });
    text += a == list.end() ? "absent"
                            : (a->bundleURL ? a->bundleURL->path() : "-") + " " +
                                  a->bundleIdentifier.value_or("-");
    text += "; ";
  }
  return text;
}

// Starts a copy of sleep placed at `path`.
Process sleepAt(const std::string& path) {
  fs::create_directories(fs::path(path).parent_path());
  fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
  return std::make_unique<testing::StartedProcess>(path, std::vector<std::string>{"600"});
}

// Catches an application that does not announce itself never found by the table (or given an
// identifier its bundle does not hold), its identifier read again once its bundle and running
// executable are gone (an update deleting the old copy), one that has ended still listed, an
// announced host not listed at once, its announced facts not preferred or changed on their way
// (a newline forging a line, a backslash read as an escape), and an announcement trusted when
// its pid now names another process (another start time); a damaged or forged announcement file,
// or a link, taken for one.
TEST(RunningApplicationTable, LearnsEachApplicationOnceAndTrustsOnlyLiveAnnouncements) {
  testing::TempDir dir;
  testing::ScopedSocketFolders folders(dir.path());
  const std::string root = fs::canonical(dir.path()), bundle = root + "/Quiet.app";
  ASSERT_TRUE(testing::makeBundle(bundle, testing::bundleInfo("com.example.quiet", "1")));
  Process quiet = sleepAt(bundle + "/Contents/MacOS/sleep");
  Process noInfo = sleepAt(root + "/NoInfo.app/Contents/MacOS/sleep");
  RunningApplicationTable& table = RunningApplicationTable::shared();
  ASSERT_TRUE(table.waitForNextLook(10s));
  fs::remove_all(bundle);
  ASSERT_TRUE(table.waitForNextLook(10s));
  EXPECT_EQ(entries(table.applications(), {quiet->pid(), noInfo->pid()}),
            bundle + " com.example.quiet; " + root + "/NoInfo.app -; ");

  ASSERT_EQ(mkdir(dir.file("korvane").c_str(), 0700), 0);
  Process announced = sleepAt(dir.file("bin/sleep"));
  testing::StartedProcess reused(dir.file("bin/sleep"), {"600"});
  ASSERT_FALSE(writeInstanceAnnouncement(
      dir.file("korvane"), {announced->pid(), processStartTime(announced->pid()).value_or(0),
                            "/nowhere/Announced.app", "com.example\nidentifier=forged\\x41"}));
  ASSERT_FALSE(writeInstanceAnnouncement(
      dir.file("korvane"), {reused.pid(), processStartTime(reused.pid()).value_or(0) + 1,
                            "/nowhere/Reused.app", "com.example.reused"}));
  const int32_t ended = quiet->pid();
  quiet.reset();  // killed and reaped
  EXPECT_EQ(entries(table.applications(), {announced->pid(), reused.pid(), ended}),
            "/nowhere/Announced.app com.example\nidentifier=forged\\x41; absent; absent; ");
  for (const char* text :
       {"", "pid=1\n", "start=1\n", "pid=1\nstart=1", "pid=0\nstart=1\n", "pid=-1\nstart=1\n",
        "pid=1\nstart=x\n", "pid=1\npid=2\nstart=1\n", "pid=1\nstart=1\nidentifier=a\n",
        "pid=1\nstart=1\nbundle=\\x4\n", "pid=1\nstart=1\nbundle=\\y41\n",
        "pid=1\nstart=1\nbundle=a\tb\n", "pid=1\nstart=1\nother=1\n"})
    EXPECT_FALSE(decodeInstanceAnnouncement(text)) << text;
  std::ofstream(dir.file("target")) << "pid=5\nstart=1\n";
  fs::create_symlink(dir.file("target"), dir.file("app-5.info"));
  EXPECT_FALSE(readInstanceAnnouncement(dir.file("app-5.info")));
  EXPECT_TRUE(readInstanceAnnouncement(dir.file("target")));
}

}  // namespace
}  // namespace korvane
