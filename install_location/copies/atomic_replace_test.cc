#include "install_location/copies/atomic_replace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "testing/fake_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

namespace fs = std::filesystem;

ResultMap refusedOrFailed(const char* status, const std::string& error) {
  return ResultMap{{"status", status}, {"error", error}};
}

class AtomicReplaceTest : public ::testing::Test {
 protected:
  std::string prepared(const std::string& name) {
    const std::string path = dir_.file(name);
    fs::create_directories(path + "/Contents");
    std::ofstream(path + "/Contents/marker") << name;
    return path;
  }
  ResultMap replace(const std::string& temp, const std::string& dest) {
    return atomicReplace(test_.services, temp, dest);
  }
  std::vector<std::string> logLines() { return test_.logger.lines(); }

  testing::TempDir dir_;
  testing::TestServices test_;
};

// Catches a commit that copies, leaves the temp behind, alters the path, or logs.
TEST_F(AtomicReplaceTest, CommitsWithOneMove) {
  const std::string temp = prepared(".flc-move.1");
  const std::string dest = dir_.file("Korvane.app");
  EXPECT_EQ(replace(temp, dest), (ResultMap{{"status", "committed"}, {"resultingPath", dest}}));
  EXPECT_FALSE(fs::exists(temp));
  std::ifstream marker(dest + "/Contents/marker");
  std::string text;
  marker >> text;
  EXPECT_EQ(text, ".flc-move.1");
  EXPECT_TRUE(logLines().empty());
}

// Catches wrong texts, a wrong order of the tests, or anything moved on refusal.
TEST_F(AtomicReplaceTest, RefusesAndFailsWithExactTexts) {
  const std::string temp = prepared(".flc-move.t");
  const std::string file = dir_.file("plain");
  std::ofstream(file) << "x";
  fs::create_directories(dir_.file("sub"));
  fs::create_directories(dir_.file("Existing.app"));
  ASSERT_EQ(symlink(temp.c_str(), dir_.file("link-to-temp").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere", dir_.file("Dangling.app").c_str()), 0);
  ASSERT_EQ(symlink(dir_.path().c_str(), dir_.file("alias").c_str()), 0);
  ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0644), 0);

  struct Case {
    std::string temp, dest;
    ResultMap expected;
  } cases[] = {
      {temp, dir_.file("sub/K.app"),
       refusedOrFailed("refused", "temp/dest not same-parent (temp=" + temp +
                                      " dest=" + dir_.file("sub/K.app") + ")")},
      {temp, dir_.file("alias/K.app"),  // one folder, two spellings
       refusedOrFailed("refused", "temp/dest not same-parent (temp=" + temp +
                                      " dest=" + dir_.file("alias/K.app") + ")")},
      {dir_.file("missing"), dir_.file("K.app"),
       refusedOrFailed("failed", "temp missing at commit: " + dir_.file("missing"))},
      {file, dir_.file("K.app"),
       refusedOrFailed("refused", "temp is not a directory (type=NSFileTypeRegular)")},
      {dir_.file("link-to-temp"), dir_.file("K.app"),
       refusedOrFailed("refused", "temp is not a directory (type=NSFileTypeSymbolicLink)")},
      {dir_.file("fifo"), dir_.file("K.app"),
       refusedOrFailed("refused", "temp is not a directory (type=NSFileTypeUnknown)")},
      {temp, dir_.file("Existing.app"),
       refusedOrFailed("refused",
                       "dest already exists (type=NSFileTypeDirectory); no-clobber, refusing")},
      {temp, file,
       refusedOrFailed("refused",
                       "dest already exists (type=NSFileTypeRegular); no-clobber, refusing")},
      {temp, dir_.file("Dangling.app"),
       refusedOrFailed("refused",
                       "dest already exists (type=NSFileTypeSymbolicLink); no-clobber, refusing")},
      {temp, temp,
       refusedOrFailed("refused",
                       "dest already exists (type=NSFileTypeDirectory); no-clobber, refusing")},
  };
  size_t logged = 0;
  for (const auto& c : cases) {
    const ResultMap result = replace(c.temp, c.dest);
    EXPECT_EQ(result, c.expected) << c.temp << " -> " << c.dest;
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), ++logged);
    EXPECT_EQ(lines.back(), "[install-location] atomicReplace " +
                                *result.find("status")->asString() + ": " +
                                *result.find("error")->asString());
  }
  EXPECT_TRUE(fs::is_directory(temp)) << "nothing moved";
  EXPECT_TRUE(fs::is_symlink(dir_.file("Dangling.app")));
  EXPECT_TRUE(fs::is_empty(dir_.file("Existing.app")));
}

// Catches a destination that appears after the check being replaced.
TEST_F(AtomicReplaceTest, DestinationTakenAfterTheCheckFailsTheMove) {
  const std::string temp = prepared(".flc-move.r");
  const std::string dest = dir_.file("K.app");
  test_.fileSystem.beforeMove = [&](const std::string&, const std::string& to) {
    fs::create_directories(to);  // an empty folder: plain rename would replace it
    std::ofstream(dir_.file("K.app.marker")) << "x";
  };
  const ResultMap result = replace(temp, dest);
  EXPECT_EQ(*result.find("status")->asString(), "failed");
  EXPECT_TRUE(result.find("error")->asString()->starts_with("moveItem failed: "))
      << *result.find("error")->asString();
  EXPECT_TRUE(fs::is_directory(temp));
  EXPECT_TRUE(fs::is_empty(dest)) << "the destination was not replaced";
  ASSERT_EQ(logLines().size(), 1u);
}

// Catches a move into a folder without write access reported as a commit
// (root would bypass: a child drops to an unprivileged user).
TEST_F(AtomicReplaceTest, UnwritableFolderFailsTheMove) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  const std::string temp = prepared(".flc-move.w");
  const std::string dest = dir_.file("K.app");
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    testing::TestServices test;
    const ResultMap result = atomicReplace(test.services, temp, dest);
    if (*result.find("status")->asString() != "failed") _exit(1);
    if (!result.find("error")->asString()->starts_with("moveItem failed: ")) _exit(2);
    _exit(0);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::is_directory(temp));
  EXPECT_FALSE(fs::exists(dest));
}

// Catches any replacement or loss while another thread keeps taking the
// destination: every prepared folder ends either at the destination (when it
// was free) or still at its own path, and every folder the racer made survives.
TEST_F(AtomicReplaceTest, RaceWithAWriterNeverReplacesOrLoses) {
  const std::string dest = dir_.file("K.app");
  std::atomic<bool> stop{false};
  std::atomic<int> racerMade{0};
  std::thread racer([&] {
    int n = 0;
    while (!stop) {
      // Takes the destination with a marked folder, then gives it back.
      std::error_code ec;
      if (fs::create_directory(dest, ec)) {
        std::ofstream(dest + "/racer") << n;
        ++racerMade;
        fs::rename(dest, dir_.file("racer-" + std::to_string(n++)), ec);
      }
      // A short, varying pause leaves the destination free part of the time,
      // so that both sides win rounds however fast either side runs.
      std::this_thread::sleep_for(std::chrono::microseconds(n % 7 * 20));
    }
  });
  int committed = 0, refusedOrFailedCount = 0, rounds = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (int i = 0; (committed < 100 || refusedOrFailedCount < 100) &&
                  std::chrono::steady_clock::now() < deadline;
       ++i, ++rounds) {
    const std::string temp = prepared(".flc-move." + std::to_string(i));
    const ResultMap result = replace(temp, dest);
    const std::string status = *result.find("status")->asString();
    if (status == "committed") {
      ++committed;
      EXPECT_TRUE(fs::exists(dest + "/Contents/marker")) << "our bundle is at the destination";
      EXPECT_FALSE(fs::exists(dest + "/racer")) << "a racer's folder was replaced";
      EXPECT_FALSE(fs::exists(temp));
      fs::rename(dest, dir_.file("ours-" + std::to_string(i)));
    } else {
      ++refusedOrFailedCount;
      EXPECT_TRUE(fs::exists(temp + "/Contents/marker")) << "a refused bundle stays in place";
    }
  }
  stop = true;
  racer.join();
  EXPECT_EQ(committed + refusedOrFailedCount, rounds);
  // Count both sides: every racer folder and every one of ours is somewhere.
  int racerFound = 0, oursFound = 0;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename();
    if (name.starts_with("racer-")) ++racerFound;
    if (name.starts_with("ours-")) ++oursFound;
  }
  if (fs::exists(dest + "/racer")) ++racerFound;
  EXPECT_EQ(racerFound, racerMade.load());
  EXPECT_EQ(oursFound, committed);
  EXPECT_GT(committed, 0);
  EXPECT_GT(refusedOrFailedCount, 0);
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
