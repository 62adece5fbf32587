#include "platform/linux/process/bundle_paths.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

struct ExecutableCase {
  const char* executable;
  const char* appBundle;  // nullptr: none
  const char* mainBundle;
};

// Catches a bundle taken from an executable nested deeper than MacOS/, from
// folders named in another letter case, from a ".app" that is only a name's
// ending or a hidden ".app", and a main bundle that is not the executable's
// folder when there is no ".app".
TEST(BundlePaths, BundleOfExecutable) {
  const ExecutableCase cases[] = {
      {"/Applications/Korvane.app/Contents/MacOS/Korvane", "/Applications/Korvane.app",
       "/Applications/Korvane.app"},
      {"/home/u/my apps/Korvane 2.app/Contents/MacOS/korvane", "/home/u/my apps/Korvane 2.app",
       "/home/u/my apps/Korvane 2.app"},
      {"/Korvane.app/Contents/MacOS/k", "/Korvane.app", "/Korvane.app"},
      {"/a/Outer.app/Contents/Helpers/Inner.app/Contents/MacOS/i",
       "/a/Outer.app/Contents/Helpers/Inner.app", "/a/Outer.app/Contents/Helpers/Inner.app"},
      {"/a/Korvane.app/Contents/MacOS/sub/k", nullptr, "/a/Korvane.app/Contents/MacOS/sub"},
      {"/a/Korvane.app/Contents/macos/k", nullptr, "/a/Korvane.app/Contents/macos"},
      {"/a/Korvane.app/contents/MacOS/k", nullptr, "/a/Korvane.app/contents/MacOS"},
      {"/a/Korvane.APP/Contents/MacOS/k", nullptr, "/a/Korvane.APP/Contents/MacOS"},
      {"/a/Korvaneapp/Contents/MacOS/k", nullptr, "/a/Korvaneapp/Contents/MacOS"},
      {"/a/.app/Contents/MacOS/k", nullptr, "/a/.app/Contents/MacOS"},
      {"/Contents/MacOS/k", nullptr, "/Contents/MacOS"},
      {"/a/Korvane.app/Contents/MacOS", nullptr, "/a/Korvane.app/Contents"},
      {"/a/Korvane.app/Contents/MacOS/", nullptr, "/a/Korvane.app/Contents"},
      {"/usr/bin/korvane", nullptr, "/usr/bin"},
      {"/korvane", nullptr, "/"},
  };
  for (const auto& c : cases) {
    const auto bundle = appBundleOfExecutable(c.executable);
    if (c.appBundle == nullptr) {
      EXPECT_EQ(bundle, std::nullopt) << c.executable;
    } else {
      EXPECT_EQ(bundle, std::optional<std::string>(c.appBundle)) << c.executable;
    }
    EXPECT_EQ(mainBundlePathOfExecutable(c.executable), c.mainBundle) << c.executable;
  }
}

// Catches the removal mark left on the path (the bundle then not found) or
// cut from the middle of a name.
TEST(BundlePaths, DeletedMarkRemovedOnlyAtTheEnd) {
  EXPECT_EQ(withoutDeletedMark("/a/K.app/Contents/MacOS/k (deleted)"), "/a/K.app/Contents/MacOS/k");
  EXPECT_EQ(withoutDeletedMark("/a/K.app/Contents/MacOS/k"), "/a/K.app/Contents/MacOS/k");
  EXPECT_EQ(withoutDeletedMark("/a/x (deleted)/k"), "/a/x (deleted)/k");
  EXPECT_EQ(withoutDeletedMark("/a/k(deleted)"), "/a/k(deleted)");
}

}  // namespace
}  // namespace korvane
