#include "platform/application_folders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include "testing/child_process.h"

namespace korvane {

// Catches HOME ignored or joined with a doubled "/", and an unset HOME giving "/Applications" or
// "Applications" instead of the password database's home. In a child: the environment is its own.
TEST(ApplicationFolders, UserFolderFromHomeElseThePasswordDatabase) {
  const std::string home = getpwuid(getuid())->pw_dir;
  EXPECT_EQ(testing::runInChild([&] {
              setenv("HOME", "/h/", 1);
              const bool fromHome = realApplicationFolders().userFolder() == "/h/Applications";
              unsetenv("HOME");
              return fromHome && realApplicationFolders().userFolder() == home + "/Applications";
            }),
            1);
}

}  // namespace korvane
