// The user defaults backend over a temporary configuration folder.
#include "platform/linux/files/user_defaults.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "testing/fakes/capturing_diagnostic_log.h"
#include "testing/fakes/fake_bundle_reader.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

std::string text(const std::string& path) {
  std::stringstream out;
  out << std::ifstream(path, std::ios::binary).rdbuf();
  return out.str();
}

// Catches a value that does not persist, a write that drops other keys or
// values of other types (or reads them as true), a temporary file left
// behind, a file others could read, a damaged file read as holding values or
// replaced without a copy kept aside, and a failed write that goes unlogged.
TEST(UserDefaultsTest, KeepsEveryValueAndEveryDamagedFile) {
  testing::TempDir temp;
  setenv("XDG_CONFIG_HOME", temp.file("config").c_str(), 1);
  testing::FakeBundleReader bundles;
  bundles.main.info = PropertyListStrings{{"CFBundleIdentifier", "dev.k"}};
  testing::CapturingDiagnosticLog logger;
  const auto defaults = makePropertyListUserDefaults(bundles, logger);
  const std::string folder = temp.file("config/dev.k"), file = folder + "/preferences.plist";
  const std::string head = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>";

  defaults->setBool(true, "a");
  std::ofstream(file) << head
                      << "<key>a</key><true/><key>s</key><string>true</string></dict></plist>";
  defaults->setBool(false, "b");
  EXPECT_TRUE(defaults->boolForKey("a"));
  EXPECT_FALSE(defaults->boolForKey("s"));
  EXPECT_NE(text(file).find("<string>true</string>"), std::string::npos) << text(file);
  EXPECT_EQ(testing::namesIn(folder), std::set<std::string>{"preferences.plist"});
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, static_cast<mode_t>(S_IRUSR | S_IWUSR));

  for (const std::string& body :
       {std::string("garbage \x01"), head + "<key>a</key><true/>", std::string()}) {
    std::ofstream(file, std::ios::binary) << body;
    EXPECT_FALSE(defaults->boolForKey("a"));
    defaults->setBool(true, "c");
    std::set<std::string> names = testing::namesIn(folder);
    ASSERT_EQ(names.size(), 2u);
    names.erase("preferences.plist");
    EXPECT_EQ(names.begin()->rfind("preferences.plist.corrupt-", 0), 0u) << *names.begin();
    EXPECT_EQ(text(folder + "/" + *names.begin()), body);
    std::remove((folder + "/" + *names.begin()).c_str());
  }
  EXPECT_TRUE(logger.lines().empty());

  std::ofstream(temp.file("plain")) << "x";
  setenv("XDG_CONFIG_HOME", temp.file("plain/config").c_str(), 1);
  defaults->setBool(true, "a");
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_EQ(logger.lines().size(), 1u);
  EXPECT_EQ(logger.lines()[0].rfind("[user-defaults] ", 0), 0u) << logger.lines()[0];
}

}  // namespace
}  // namespace korvane
