#include "platform/application_folders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "testing/child_process.h"

namespace korvane {
namespace {

// Sets or clears HOME for one test and restores it afterwards.
class HomeVariable {
 public:
  HomeVariable() {
    if (const char* home = std::getenv("HOME")) saved_ = home;
  }
  ~HomeVariable() {
    if (saved_) {
      setenv("HOME", saved_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }

 private:
  std::optional<std::string> saved_;
};

// Catches a system folder other than "/Applications".
TEST(ApplicationFolders, SystemFolder) {
  EXPECT_EQ(realApplicationFolders().systemFolder(), "/Applications");
}

// Catches HOME ignored, or joined with a doubled "/".
TEST(ApplicationFolders, UserFolderFromHome) {
  HomeVariable restore;
  setenv("HOME", "/home/some one/", 1);
  EXPECT_EQ(realApplicationFolders().userFolder(), "/home/some one/Applications");
  setenv("HOME", "/h", 1);
  EXPECT_EQ(realApplicationFolders().userFolder(), "/h/Applications");
}

// Catches an unset or empty HOME giving "/Applications" or "Applications"
// instead of the password database's home.
TEST(ApplicationFolders, UserFolderFromPasswordDatabaseWithoutHome) {
  const passwd* me = getpwuid(getuid());
  if (me == nullptr || me->pw_dir == nullptr || *me->pw_dir == '\0') {
    GTEST_SKIP() << "this user has no home in the password database";
  }
  const std::string expected = std::string(me->pw_dir) == "/"
                                   ? std::string("/Applications")
                                   : std::string(me->pw_dir) + "/Applications";
  HomeVariable restore;
  unsetenv("HOME");
  EXPECT_EQ(realApplicationFolders().userFolder(), expected);
  setenv("HOME", "", 1);
  EXPECT_EQ(realApplicationFolders().userFolder(), expected);
}

// Catches a made-up folder for a user the password database does not know.
TEST(ApplicationFolders, NoUserFolderWithoutAnyHome) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to become an unknown user";
  constexpr unsigned kUnknownUser = 4012345;
  if (getpwuid(kUnknownUser) != nullptr) GTEST_SKIP() << "the test's user id is taken";
  const int status = testing::runInChild(
      [] {
        unsetenv("HOME");
        return realApplicationFolders().userFolder() == std::nullopt ? 0 : 1;
      },
      kUnknownUser);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace korvane
