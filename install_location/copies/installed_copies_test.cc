// The installed copies: the scan (installed_copies.h) and the commit of a
// prepared copy (atomic_replace.h).
#include "install_location/copies/installed_copies.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "install_location/copies/atomic_replace.h"
#include "testing/bundle_maker.h"
#include "testing/fakes/test_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

namespace fs = std::filesystem;
using testing::bundleInfo;
using testing::makeBundle;
constexpr char kId[] = "com.example.korvane";

// A copy missed or invented, a wrong flag, or a hidden folder error would misguide an update.
TEST(InstalledCopies, ScanListsTheCopiesLeftoversAndFolderErrors) {
  testing::TempDir dir;
  testing::TestServices test;
  const std::string apps = dir.file("Applications"), user = dir.file("home/Applications");
  test.folders.system = apps;
  test.folders.user = user;
  test.bundles.main.info =
      PropertyListStrings{{"CFBundleIdentifier", kId}, {"CFBundleName", "Korvane"}};
  ASSERT_TRUE(makeBundle(apps + "/Korvane.app", bundleInfo(kId, "1234")));
  ASSERT_TRUE(makeBundle(user + "/Korvane 2.app", bundleInfo(kId, "1.2")));
  for (const char* name : {"/Sub/Korvane.app", "/Upper.APP", "/.flc-move.a.app"}) {
    ASSERT_TRUE(makeBundle(apps + name, bundleInfo(kId, "1")));
  }
  ASSERT_TRUE(makeBundle(apps + "/Other.app", bundleInfo("com.other", "5")));
  fs::create_directory(apps + "/Empty.app");
  fs::create_directory_symlink(apps + "/Korvane.app", user + "/Link.app");
  fs::create_directory_symlink(dir.path(), dir.file("via"));
  std::ofstream(user + "/.flc-move.b") << "x";
  std::ofstream(user + "/.flc-movealmost") << "x";
  // The system folder's copy runs (its sibling path is spelled through a link) and has the
  // canonical name; the user's does neither.
  const auto copy = [](const std::string& path, int64_t build, bool inSystemFolder) {
    return EncodableMap{{"path", path},
                        {"identity", "sameBundle"},
                        {"build", EncodableValue::integer(build)},
                        {"running", inSystemFolder},
                        {"underApplications", inSystemFolder},
                        {"isCanonicalName", inSystemFolder}};
  };
  EXPECT_EQ(
      scanInstalledCopies(test.services, {dir.file("via/Applications/Korvane.app")}),
      (ResultMap{{"status", "ok"},
                 {"dirErrors", EncodableMap{}},
                 {"candidates", EncodableList{copy(apps + "/Korvane.app", 1234, true),
                                              copy(user + "/Korvane 2.app", 0, false)}},
                 {"staleTemps", EncodableList{apps + "/.flc-move.a.app", user + "/.flc-move.b"}},
                 {"otherInstanceRunning", false}}));
  EXPECT_EQ(test.bundles.infoReads, 4);  // the two copies, Empty.app and Other.app, once each
  const ResultMap elsewhere = scanInstalledCopies(test.services, {"/Volumes/K/Korvane.app"});
  EXPECT_EQ(*elsewhere.find("otherInstanceRunning"), EncodableValue(true));
  fs::remove_all(user);
  std::ofstream(user) << "x";  // a file where a folder should be: it cannot be listed
  const ResultMap partial = scanInstalledCopies(test.services, {});
  EXPECT_EQ(*partial.find("status"), EncodableValue("partial"));
  const std::string error = realFileSystem().contentsOfDirectory(user).error.description;
  EXPECT_EQ(*partial.find("dirErrors")->asMap(), (EncodableMap{{user, error}}));
  EXPECT_EQ(partial.find("candidates")->asList()->size(), 1u);
  test.folders.user = dir.file("missing");
  EXPECT_EQ(*scanInstalledCopies(test.services, {}).find("status"), EncodableValue("ok"));
}

// A wrong text, a check out of order, or a destination replaced would lose or misreport a copy.
TEST(AtomicReplace, AnswersEachOutcomeAndNeverReplaces) {
  testing::TempDir dir;
  testing::TestServices test;
  const std::string temp = dir.file(".flc-move.t"), file = dir.file("file"), k = dir.file("K.app");
  fs::create_directories(temp + "/Contents");
  std::ofstream(file) << "x";
  fs::create_directory_symlink(temp, dir.file("link"));
  fs::create_directory_symlink("/nowhere", dir.file("Dangling.app"));
  fs::create_directory_symlink(dir.path(), dir.file("alias"));
  const struct {
    std::string temp, dest, status, error;
  } cases[] = {
      {temp, dir.file("alias/K.app"), "refused",
       "temp/dest not same-parent (temp=" + temp + " dest=" + dir.file("alias/K.app") + ")"},
      {dir.file("none"), k, "failed", "temp missing at commit: " + dir.file("none")},
      {file, k, "refused", "temp is not a directory (type=NSFileTypeRegular)"},
      {dir.file("link"), k, "refused", "temp is not a directory (type=NSFileTypeSymbolicLink)"},
      {temp, dir.file("Dangling.app"), "refused",
       "dest already exists (type=NSFileTypeSymbolicLink); no-clobber, refusing"}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(atomicReplace(test.services, c.temp, c.dest),
              (ResultMap{{"status", c.status}, {"error", c.error}}));
    EXPECT_EQ(test.logger.lines().at(i),
              "[install-location] atomicReplace " + c.status + ": " + c.error);
  }
  test.fileSystem.beforeCall = [](std::string_view, const std::string& to) {
    fs::create_directory(to);
  };
  const ResultMap late = atomicReplace(test.services, temp, k);  // the destination taken late
  EXPECT_TRUE(late.find("error")->asString()->starts_with("moveItem failed: "));
  EXPECT_TRUE(fs::is_empty(k));
  test.fileSystem.beforeCall = nullptr;
  EXPECT_EQ(atomicReplace(test.services, temp, dir.file("L.app")),
            (ResultMap{{"status", "committed"}, {"resultingPath", dir.file("L.app")}}));
  EXPECT_TRUE(fs::is_directory(dir.file("L.app/Contents")) && !fs::exists(temp));
  EXPECT_EQ(test.logger.lines().size(), std::size(cases) + 1);  // the commit logs nothing
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
