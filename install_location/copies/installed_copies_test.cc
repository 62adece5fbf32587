#include "install_location/copies/installed_copies.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "testing/bundle_maker.h"
#include "testing/fake_services.h"
#include "testing/temp_dir.h"

namespace korvane::InstallLocationProbe {
namespace {

constexpr char kId[] = "com.example.korvane";

EncodableMap candidate(const std::string& path, int64_t build, bool running, bool underApplications,
                       bool canonical) {
  return EncodableMap{{"path", path},
                      {"identity", "sameBundle"},
                      {"build", EncodableValue::integer(build)},
                      {"running", running},
                      {"underApplications", underApplications},
                      {"isCanonicalName", canonical}};
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system_ = dir_.file("Applications");
    user_ = dir_.file("home/Applications");
    std::filesystem::create_directories(system_);
    std::filesystem::create_directories(user_);
    test_.folders.system = system_;
    test_.folders.user = user_;
    test_.bundles.main.path = system_ + "/Korvane.app";
    test_.bundles.main.info =
        PropertyListStrings{{"CFBundleIdentifier", kId}, {"CFBundleName", "Korvane"}};
  }

  void copyAt(const std::string& path, const std::string& version = "1",
              testing::PlistFormat format = testing::PlistFormat::xml) {
    ASSERT_TRUE(testing::makeBundle(path, testing::bundleInfo(kId, version), format));
  }

  ResultMap scan(const std::vector<std::string>& siblings = {}) {
    return scanInstalledCopies(test_.services, siblings);
  }

  static const EncodableList& list(const ResultMap& map, const char* key) {
    return *map.find(key)->asList();
  }

  testing::TempDir dir_;
  testing::TestServices test_;
  std::string system_, user_;
};

// Catches missing keys, a wrong order, or a non-empty answer for empty folders.
TEST_F(ScanTest, EmptyFoldersAnswerAnEmptyOkScan) {
  test_.folders.user = dir_.file("no/such/folder");
  const ResultMap expected{{"status", "ok"},
                           {"dirErrors", EncodableMap{}},
                           {"candidates", EncodableList{}},
                           {"staleTemps", EncodableList{}},
                           {"otherInstanceRunning", false}};
  EXPECT_EQ(scan(), expected);
}

// Catches copies missed or invented, wrong flags, or entries taken from
// subfolders, links, other applications or upper-case extensions.
TEST_F(ScanTest, ListsTheCopiesOfThisApplicationOnly) {
  copyAt(system_ + "/Korvane.app", "1234");
  copyAt(system_ + "/Korvane 2.app", "99", testing::PlistFormat::binary);
  copyAt(user_ + "/Korvane.app", "1.2.3");
  copyAt(system_ + "/Sub/Korvane.app");
  copyAt(system_ + "/Upper.APP");
  ASSERT_TRUE(testing::makeBundle(system_ + "/Other.app", testing::bundleInfo("com.other", "5")));
  std::filesystem::create_directories(system_ + "/Empty.app");
  ASSERT_EQ(symlink((system_ + "/Korvane.app").c_str(), (system_ + "/Link.app").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere", (user_ + "/Dangling.app").c_str()), 0);
  std::ofstream(system_ + "/notes.txt") << "x";

  const ResultMap map = scan();
  EXPECT_EQ(*map.find("status")->asString(), "ok");
  EncodableList candidates = list(map, "candidates");
  // Listing order within a folder is the system's: compare the system folder's as a set.
  ASSERT_EQ(candidates.size(), 3u);
  const EncodableMap a = candidate(system_ + "/Korvane.app", 1234, false, true, true);
  const EncodableMap b = candidate(system_ + "/Korvane 2.app", 99, false, true, false);
  EXPECT_TRUE((candidates[0] == EncodableValue(a) && candidates[1] == EncodableValue(b)) ||
              (candidates[0] == EncodableValue(b) && candidates[1] == EncodableValue(a)));
  EXPECT_EQ(candidates[2],
            EncodableValue(candidate(user_ + "/Korvane.app", 0, false, false, true)));
  EXPECT_FALSE(*map.find("otherInstanceRunning")->asBool());
}

// Catches staging items missed, filtered by type, or listed as copies.
TEST_F(ScanTest, ReportsStagingLeftoversWhateverTheirType) {
  copyAt(system_ + "/.flc-move.abc.app");
  std::ofstream(user_ + "/.flc-move.tmp") << "x";
  std::ofstream(user_ + "/.flc-movealmost") << "x";
  const ResultMap map = scan();
  EXPECT_TRUE(list(map, "candidates").empty());
  EXPECT_EQ(list(map, "staleTemps"),
            (EncodableList{system_ + "/.flc-move.abc.app", user_ + "/.flc-move.tmp"}));
}

// Catches running flags and otherInstanceRunning computed against the wrong paths.
TEST_F(ScanTest, RunningFlagsFollowTheSiblingList) {
  copyAt(system_ + "/Korvane.app");
  copyAt(user_ + "/Korvane.app");
  ResultMap map = scan({system_ + "/Korvane.app"});
  EXPECT_TRUE(*list(map, "candidates")[0].asMap()->find("running")->asBool());
  EXPECT_FALSE(*list(map, "candidates")[1].asMap()->find("running")->asBool());
  EXPECT_FALSE(*map.find("otherInstanceRunning")->asBool());

  map = scan({system_ + "/Korvane.app", system_ + "/Korvane.app"});
  EXPECT_FALSE(*map.find("otherInstanceRunning")->asBool()) << "repeats of a listed copy";

  map = scan({"/Volumes/Korvane/Korvane.app"});
  EXPECT_TRUE(*map.find("otherInstanceRunning")->asBool());
  for (const auto& c : list(map, "candidates")) EXPECT_FALSE(*c.asMap()->find("running")->asBool());

  test_.folders.user = std::nullopt;
  std::filesystem::remove_all(system_ + "/Korvane.app");
  map = scan({user_ + "/Korvane.app"});
  EXPECT_TRUE(list(map, "candidates").empty());
  EXPECT_TRUE(*map.find("otherInstanceRunning")->asBool()) << "no candidates, one sibling";
}

// Catches a folder error that stops the scan, hides the other folder, or is
// reported for a folder that does not exist.
TEST_F(ScanTest, UnlistableFolderIsReportedAndTheOtherStillScanned) {
  copyAt(user_ + "/Korvane.app", "7");
  test_.fileSystem.listingFault = {
      system_, FileError{std::make_error_code(std::errc::permission_denied), "cannot list it"}};
  const ResultMap map = scan();
  EXPECT_EQ(*map.find("status")->asString(), "partial");
  EXPECT_EQ(*map.find("dirErrors")->asMap(), (EncodableMap{{system_, "cannot list it"}}));
  EXPECT_EQ(list(map, "candidates"),
            (EncodableList{candidate(user_ + "/Korvane.app", 7, false, false, true)}));

  test_.fileSystem.listingFault = {
      dir_.file("gone"),
      FileError{std::make_error_code(std::errc::no_such_file_or_directory), "x"}};
  test_.folders.user = dir_.file("gone");
  EXPECT_EQ(*scan().find("status")->asString(), "ok") << "a missing folder is no error";
}

// Catches the same folder listed twice producing two error entries.
TEST_F(ScanTest, SameFolderTwiceKeepsOneErrorEntry) {
  test_.folders.user = system_;
  test_.fileSystem.listingFault = {system_, FileError{{}, "denied"}};
  EXPECT_EQ(scan().find("dirErrors")->asMap()->size(), 1u);
}

// Catches a real permission error not reported (root would bypass: a child
// drops to an unprivileged user and reports what it saw).
TEST_F(ScanTest, RealPermissionErrorOnAFolder) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(dir_.file("home").c_str(), 0755), 0);
  ASSERT_EQ(chmod(user_.c_str(), 0755), 0);
  copyAt(user_ + "/Korvane.app", "3");
  ASSERT_EQ(chmod(system_.c_str(), 0700), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    testing::TestServices test;
    test.folders.system = system_;
    test.folders.user = user_;
    test.bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", kId}};
    const ResultMap map = scanInstalledCopies(test.services, {});
    const EncodableMap* errors = map.find("dirErrors")->asMap();
    if (*map.find("status")->asString() != "partial") _exit(1);
    if (errors->size() != 1 || errors->find(system_) == nullptr) _exit(2);
    if (errors->find(system_)->asString()->find(system_) == std::string::npos) _exit(3);
    if (map.find("candidates")->asList()->size() != 1) _exit(4);
    _exit(0);
  }
  int status = -1;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Catches an entry that vanishes after the listing being reported or crashing the scan.
TEST_F(ScanTest, EntryThatVanishesMidScanIsSkipped) {
  copyAt(system_ + "/Korvane.app");
  copyAt(system_ + "/Gone.app");
  test_.fileSystem.afterListing = [&](const std::string& folder) {
    if (folder == system_) std::filesystem::remove_all(system_ + "/Gone.app");
  };
  const ResultMap map = scan();
  ASSERT_EQ(list(map, "candidates").size(), 1u);
  EXPECT_EQ(*list(map, "candidates")[0].asMap()->find("path")->asString(),
            system_ + "/Korvane.app");
}

// Catches the scan looking at an entry more often than it must: with the
// types the listing gives and no running sibling, a bundle costs one read of
// its information list and no attribute read or existence test.
TEST_F(ScanTest, EachBundleIsReadOnce) {
  copyAt(system_ + "/Korvane.app");
  ASSERT_TRUE(testing::makeBundle(system_ + "/Other.app", testing::bundleInfo("com.other", "1")));
  std::ofstream(system_ + "/notes.txt") << "x";
  int unknownTypes = 0;
  for (const auto& type : realFileSystem().contentsOfDirectory(system_).types) {
    unknownTypes += type ? 0 : 1;
  }
  ASSERT_EQ(list(scan(), "candidates").size(), 1u);
  EXPECT_EQ(test_.bundles.infoReads, 2);
  EXPECT_LE(test_.fileSystem.attributeReads, unknownTypes);
  EXPECT_LE(test_.fileSystem.existenceTests, unknownTypes);
}

// Catches a hostile Info.plist stalling or crashing the scan.
TEST_F(ScanTest, HostileInfoFilesAreSkipped) {
  std::filesystem::create_directories(system_ + "/Fifo.app/Contents");
  ASSERT_EQ(mkfifo((system_ + "/Fifo.app/Contents/Info.plist").c_str(), 0644), 0);
  std::filesystem::create_directories(system_ + "/Huge.app/Contents");
  {
    std::ofstream huge(system_ + "/Huge.app/Contents/Info.plist");
    huge << "<?xml version=\"1.0\"?><plist><dict><key>CFBundleIdentifier</key><string>" << kId
         << "</string><key>pad</key><string>" << std::string(2 * 1024 * 1024, 'x')
         << "</string></dict></plist>";
  }
  std::filesystem::create_directories(system_ + "/Broken.app/Contents");
  std::ofstream(system_ + "/Broken.app/Contents/Info.plist") << "bplist00\x01\x02garbage";
  copyAt(system_ + "/Korvane.app");
  const ResultMap map = scan();
  ASSERT_EQ(list(map, "candidates").size(), 1u);
  EXPECT_EQ(*map.find("status")->asString(), "ok");
}

// Catches the canonical-name test or the identifier using the wrong source.
TEST_F(ScanTest, NoOwnIdentifierListsOnlyEmptyIdentifiers) {
  test_.bundles.main.info = std::nullopt;
  ASSERT_TRUE(testing::makeBundle(system_ + "/Blank.app", testing::bundleInfo("", "4")));
  copyAt(system_ + "/Korvane.app");
  const ResultMap map = scan();
  ASSERT_EQ(list(map, "candidates").size(), 1u);
  EXPECT_EQ(list(map, "candidates")[0],
            EncodableValue(candidate(system_ + "/Blank.app", 4, false, true, false)));
}

// Catches an Info.plist read more than once per copy.
TEST_F(ScanTest, ReadsEachInfoFileOnce) {
  copyAt(system_ + "/Korvane.app");
  copyAt(user_ + "/Korvane.app");
  scan();
  EXPECT_EQ(test_.bundles.infoReads, 2);
}

}  // namespace
}  // namespace korvane::InstallLocationProbe
