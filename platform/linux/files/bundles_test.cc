#include "platform/bundles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "testing/bundle_maker.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

constexpr const char* kReportMainBundle = "KORVANE_TEST_REPORT_MAIN_BUNDLE";

// When a test starts a copy of this program with the variable set, the copy
// writes what it finds as its own bundle to the named file and ends at once.
const bool reportedMainBundle = [] {
  const char* out = std::getenv(kReportMainBundle);
  if (out == nullptr) return false;
  const MainBundle bundle = realBundleReader().mainBundle();
  std::ofstream(out) << bundle.path << '\n'
                     << bundle.bundleIdentifier().value_or("(none)") << '\n'
                     << bundle.infoValue("CFBundleName").value_or("(none)") << '\n';
  std::_Exit(0);
}();

std::string realPathOf(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? resolved : path;
}

std::string ownExecutable() { return fs::read_symlink("/proc/self/exe").string(); }

// Runs a copy of this program at `executable` and returns what it reported.
std::string mainBundleOfCopyAt(const std::string& executable, const std::string& report) {
  std::error_code error;
  fs::create_directories(fs::path(executable).parent_path(), error);
  if (!fs::copy_file(ownExecutable(), executable, error)) return "copy failed";
  const pid_t pid = fork();
  if (pid == 0) {
    setenv(kReportMainBundle, report.c_str(), 1);
    char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
    execv(executable.c_str(), argv);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::stringstream text;
  text << std::ifstream(report).rdbuf();
  return text.str();
}

// Catches the info file read from the wrong place, a trailing "/" not
// joined, the binary form not read, non-string entries kept, and a missing
// file read as an empty list.
TEST(Bundles, InfoStringsOfABundleOnDisk) {
  testing::TempDir dir;
  const std::string bundle = dir.file("Some App.app");
  ASSERT_TRUE(testing::makeBundle(bundle, {{"CFBundleIdentifier", std::string("com.example.a")},
                                           {"CFBundleVersion", int64_t{42}}}));
  const PropertyListStrings expected{{"CFBundleIdentifier", "com.example.a"}};
  EXPECT_EQ(realBundleReader().infoStrings(bundle), expected);
  EXPECT_EQ(realBundleReader().infoStrings(bundle + "/"), expected);
  const std::string binary = dir.file("Binary.app");
  ASSERT_TRUE(testing::makeBundle(binary, {{"CFBundleIdentifier", std::string("com.example.a")}},
                                  testing::PlistFormat::binary));
  EXPECT_EQ(realBundleReader().infoStrings(binary), expected);
  EXPECT_EQ(realBundleReader().infoStrings(dir.file("Missing.app")), std::nullopt);
  EXPECT_EQ(realBundleReader().infoStrings(dir.path()), std::nullopt);
  EXPECT_EQ(realBundleReader().infoStrings(bundle + std::string(1, '\0')), std::nullopt);
}

// Catches the running bundle not found around Contents/MacOS/, its info not
// read, or a program outside a bundle not given its own folder.
TEST(Bundles, MainBundleOfTheRunningProgram) {
  testing::TempDir dir;
  const std::string root = realPathOf(dir.path());
  const std::string report = root + "/report";
  ASSERT_TRUE(testing::makeBundle(root + "/Host 2.app",
                                  {{"CFBundleIdentifier", std::string("com.example.host")},
                                   {"CFBundleName", std::string("Host")}}));
  EXPECT_EQ(mainBundleOfCopyAt(root + "/Host 2.app/Contents/MacOS/host", report),
            root + "/Host 2.app\ncom.example.host\nHost\n");
  EXPECT_EQ(mainBundleOfCopyAt(root + "/bin/host", report), root + "/bin\n(none)\n(none)\n");

  const MainBundle self = realBundleReader().mainBundle();
  EXPECT_EQ(self.path, fs::path(ownExecutable()).parent_path().string());
  EXPECT_FALSE(reportedMainBundle);
}

}  // namespace
}  // namespace korvane
