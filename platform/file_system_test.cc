#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <fstream>

#include "platform/file_url.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"

namespace korvane {
namespace {

using Status = AttributeLookup::Status;

// Catches the macOS attribute name looked up unmapped, or the missing-attribute
// error confused with other failures.
TEST(FileSystem, ExtendedAttributeMapsNameAndOutcome) {
  testing::TempDir dir;
  const std::string file = dir.file("f");
  std::ofstream(file) << "x";
  if (setxattr(file.c_str(), "user.com.apple.quarantine", "q", 1, 0) != 0) {
    GTEST_SKIP() << "no user extended attributes here";
  }
  auto found = realFileSystem().extendedAttribute(file, "com.apple.quarantine");
  EXPECT_EQ(found.status, Status::present);
  EXPECT_EQ(found.size, 1u);
  EXPECT_EQ(realFileSystem().extendedAttribute(file, "com.apple.other").status, Status::missing);
  auto gone = realFileSystem().extendedAttribute(dir.file("nope"), "com.apple.quarantine");
  EXPECT_EQ(gone.status, Status::failed);
  EXPECT_EQ(gone.error, std::errc::no_such_file_or_directory);
}

// Catches a lookup on a file system without user attributes read as "missing".
TEST(FileSystem, ExtendedAttributeWithoutSupportFails) {
  // procfs keeps no user attributes.
  auto lookup = realFileSystem().extendedAttribute("/proc/self/status", "com.apple.quarantine");
  EXPECT_EQ(lookup.status, Status::failed);
}

// Catches permission errors read as "missing" (root would bypass, so a child
// drops to an unprivileged user).
TEST(FileSystem, NoPermissionIsAFailureAndNotWritable) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to drop to another user";
  testing::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string locked = dir.file("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  std::ofstream(locked + "/f") << "x";
  const std::string readOnly = dir.file("ro");
  std::ofstream(readOnly) << "x";
  ASSERT_EQ(chmod(readOnly.c_str(), 0444), 0);

  int status = testing::runInChild(
      [&] {
        auto lookup = realFileSystem().extendedAttribute(locked + "/f", "com.apple.quarantine");
        if (lookup.status != Status::failed) return 1;
        if (lookup.error != std::errc::permission_denied) return 2;
        if (realFileSystem().isWritableFile(readOnly)) return 3;
        if (realFileSystem().isWritableFile(dir.path())) return 4;
        return 0;
      },
      testing::kNobody);
  EXPECT_EQ(status, 0);
}

// Catches a path cut short at an embedded NUL and then used.
TEST(FileSystem, PathsWithNulNameNothing) {
  testing::TempDir dir;
  std::string path = dir.path() + std::string(1, '\0') + "x";
  EXPECT_FALSE(realFileSystem().isWritableFile(path));  // dir itself is writable
  EXPECT_EQ(realFileSystem().extendedAttribute(path, "com.apple.quarantine").status,
            Status::failed);
}

// Catches relative paths left relative or absolute ones altered.
TEST(FileURL, WithPathIsAbsoluteAndOtherwiseUnchanged) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(FileURL::fileURLWithPath("/a/./b/../c/").path(), "/a/./b/../c/");
  EXPECT_EQ(FileURL::fileURLWithPath("x/y").path(), std::string(cwd) + "/x/y");
  EXPECT_EQ(FileURL::fileURLWithPath("").path(), std::string(cwd) + "/");
}

}  // namespace
}  // namespace korvane
