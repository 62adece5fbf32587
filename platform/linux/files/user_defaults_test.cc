#include "platform/linux/files/user_defaults.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>

#include "testing/capturing_logger.h"
#include "testing/child_process.h"
#include "testing/fake_services.h"
#include "testing/folder_names.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using testing::namesIn;

constexpr const char* kFlag = "LaunchAtLogin__hasMigrated";

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + body +
         "\n</plist>\n";
}

// Sets XDG_CONFIG_HOME to a temporary folder for one test and puts it back.
class UserDefaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("XDG_CONFIG_HOME")) saved_ = old;
    setenv("XDG_CONFIG_HOME", temp.file("config").c_str(), 1);
    bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", "dev.korvane.app"}};
  }
  void TearDown() override {
    if (saved_)
      setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  std::string folder() const { return temp.file("config/dev.korvane.app"); }
  std::string file() const { return folder() + "/preferences.plist"; }
  void makeFolder() const {
    ASSERT_EQ(mkdir(temp.file("config").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
  }

  testing::TempDir temp;
  testing::TestBundleReader bundles;
  testing::CapturingLogger logger;
  std::unique_ptr<UserDefaults> defaults = makePropertyListUserDefaults(bundles, logger);

 private:
  std::optional<std::string> saved_;
};

// Catches a value that does not persist, a write that drops other keys, a
// temporary file left behind, or a file others could read.
TEST_F(UserDefaultsTest, BooleansRoundTrip) {
  EXPECT_FALSE(defaults->boolForKey(kFlag));
  defaults->setBool(true, kFlag);
  defaults->setBool(false, "other");
  EXPECT_TRUE(defaults->boolForKey(kFlag));
  EXPECT_FALSE(defaults->boolForKey("other"));
  EXPECT_FALSE(defaults->boolForKey("absent"));
  // A fresh instance reads the same file.
  EXPECT_TRUE(makePropertyListUserDefaults(bundles, logger)->boolForKey(kFlag));
  defaults->setBool(false, kFlag);
  EXPECT_FALSE(defaults->boolForKey(kFlag));
  defaults->setBool(true, "other");
  EXPECT_TRUE(defaults->boolForKey("other"));

  EXPECT_EQ(namesIn(folder()), std::set<std::string>{"preferences.plist"});
  const std::string text = readText(file());
  EXPECT_NE(text.find("<key>other</key>"), std::string::npos) << text;
  EXPECT_NE(text.find("<true/>"), std::string::npos) << text;
  struct stat info {};
  ASSERT_EQ(stat(file().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(logger.lines().empty());
}

// Catches values of other types read as true, and a write that drops them.
TEST_F(UserDefaultsTest, OnlyBooleansReadAsBooleans) {
  makeFolder();
  writeText(file(), plist("<dict><key>s</key><string>true</string>"
                          "<key>i</key><integer>1</integer>"
                          "<key>d</key><dict><key>x</key><true/></dict>"
                          "<key>yes</key><true/></dict>"));
  EXPECT_FALSE(defaults->boolForKey("s"));
  EXPECT_FALSE(defaults->boolForKey("i"));
  EXPECT_FALSE(defaults->boolForKey("d"));
  EXPECT_FALSE(defaults->boolForKey("x"));
  EXPECT_TRUE(defaults->boolForKey("yes"));
  defaults->setBool(true, "new");
  const std::string text = readText(file());
  EXPECT_NE(text.find("<string>true</string>"), std::string::npos) << text;
  EXPECT_NE(text.find("<integer>1</integer>"), std::string::npos) << text;
  EXPECT_TRUE(defaults->boolForKey("new"));
}

// Catches a damaged file read as holding values, or overwritten without a
// copy kept aside.
TEST_F(UserDefaultsTest, CorruptFilesReadEmptyAndAreKeptAside) {
  std::string deep;
  for (int i = 0; i < 600; ++i) deep += "<array>";
  const std::string cases[] = {
      "garbage \x01\x02",
      plist("<dict><key>a</key><true/>"),  // cut short
      plist("<array><true/></array>"),     // not a dictionary
      plist(deep),                         // nested too deep for the parser
      plist("<dict><key>a</key><true/></dict>") + std::string(1024 * 1024, ' '),  // too large
      "",
  };
  makeFolder();
  for (const std::string& body : cases) {
    SCOPED_TRACE(body.substr(0, 60));
    writeText(file(), body);
    EXPECT_FALSE(defaults->boolForKey("a"));
    defaults->setBool(true, "b");
    EXPECT_TRUE(defaults->boolForKey("b"));
    std::set<std::string> names = namesIn(folder());
    ASSERT_EQ(names.size(), 2u);
    ASSERT_EQ(names.count("preferences.plist"), 1u);
    names.erase("preferences.plist");
    const std::string aside = *names.begin();
    EXPECT_EQ(aside.rfind("preferences.plist.corrupt-", 0), 0u) << aside;
    EXPECT_EQ(readText(folder() + "/" + aside), body);
    unlink((folder() + "/" + aside).c_str());
  }
}

// Catches a folder in the file's place breaking every later write.
TEST_F(UserDefaultsTest, FolderInPlaceOfTheFileIsKeptAside) {
  makeFolder();
  ASSERT_EQ(mkdir(file().c_str(), 0700), 0);
  EXPECT_FALSE(defaults->boolForKey("a"));
  defaults->setBool(true, "a");
  EXPECT_TRUE(defaults->boolForKey("a"));
  EXPECT_EQ(namesIn(folder()).size(), 2u);
}

// Catches a write failure passing unnoticed, or one logged without the path.
TEST_F(UserDefaultsTest, WriteFailuresAreLogged) {
  writeText(temp.file("plain"), "x");
  setenv("XDG_CONFIG_HOME", temp.file("plain/config").c_str(), 1);
  defaults->setBool(true, kFlag);
  EXPECT_FALSE(defaults->boolForKey(kFlag));
  const auto lines = logger.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[user-defaults] ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(temp.file("plain")), std::string::npos) << lines[0];
}

// Catches a refused write passing unlogged, or an unreadable file replaced
// (its other keys lost).
TEST_F(UserDefaultsTest, PermissionDenied) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to switch to an unprivileged user";
  ASSERT_EQ(chmod(temp.path().c_str(), 0755), 0);
  ASSERT_EQ(mkdir(temp.file("config").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(folder().c_str(), 0755), 0);
  const std::string original = plist("<dict><key>keep</key><true/></dict>");
  writeText(file(), original);
  ASSERT_EQ(chmod(file().c_str(), 0600), 0);
  const int status = testing::runInChild(
      [&] {
        if (defaults->boolForKey("keep")) return 1;  // cannot be read: false
        defaults->setBool(true, kFlag);
        const auto lines = logger.lines();
        if (lines.size() != 1 || lines[0].find(file()) == std::string::npos ||
            lines[0].find("Permission denied") == std::string::npos)
          return 2;
        return 0;
      },
      testing::kNobody);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(readText(file()), original);
  EXPECT_EQ(namesIn(folder()), std::set<std::string>{"preferences.plist"});
}

// Catches the standard defaults reading the environment only once.
TEST_F(UserDefaultsTest, StandardDefaultsFollowTheEnvironment) {
  realUserDefaults().setBool(true, kFlag);
  EXPECT_TRUE(realUserDefaults().boolForKey(kFlag));
  setenv("XDG_CONFIG_HOME", temp.file("second").c_str(), 1);
  EXPECT_FALSE(realUserDefaults().boolForKey(kFlag));
  realUserDefaults().setBool(true, kFlag);
  EXPECT_EQ(namesIn(temp.path()), (std::set<std::string>{"config", "second"}));
}

// Catches a bundle identifier that names a folder outside the configuration
// folder.
TEST_F(UserDefaultsTest, UnusableIdentifiersUseTheDefaultFolder) {
  for (const char* id : {"", ".", "..", "../escape", "a/b"}) {
    bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", id}};
    defaults->setBool(true, kFlag);
    EXPECT_TRUE(defaults->boolForKey(kFlag)) << id;
  }
  bundles.main.info = std::nullopt;
  EXPECT_TRUE(defaults->boolForKey(kFlag));
  EXPECT_EQ(namesIn(temp.file("config")), std::set<std::string>{"korvane"});
  EXPECT_EQ(namesIn(temp.path()), std::set<std::string>{"config"});
}

}  // namespace
}  // namespace korvane
