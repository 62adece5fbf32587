#include "platform/path_string.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace korvane {
namespace {

struct JoinCase {
  const char* path;
  const char* component;
  const char* joined;
};

// Catches a doubled "/" after a trailing one, a "/" put before a component of
// an empty path, or the root turned into "//".
TEST(PathString, AppendingPathComponent) {
  const JoinCase cases[] = {
      {"/Applications", "Korvane.app", "/Applications/Korvane.app"},
      {"/Applications/", "Korvane.app", "/Applications/Korvane.app"},
      {"/Applications//", "Korvane.app", "/Applications/Korvane.app"},
      {"/", "x.app", "/x.app"},
      {"//", "x.app", "/x.app"},
      {"", "x.app", "x.app"},
      {"a", "b", "a/b"},
      {"/a/x.app", "Contents/Info.plist", "/a/x.app/Contents/Info.plist"},
      {"/a", "/b", "/a/b"},
      {"/a", "", "/a"},
      {"/my apps", ".flc-move.1", "/my apps/.flc-move.1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(appendingPathComponent(c.path, c.component), c.joined)
        << '"' << c.path << "\" + \"" << c.component << '"';
  }
}

struct PartsCase {
  const char* path;
  const char* parent;
  const char* last;
  const char* extension;
};

// Catches a trailing "/" taken as an empty last component, the root or a
// top-level item given an empty parent, a relative name given "/" or ".",
// a hidden name's leading "." read as an extension, and an extension taken
// from a folder above the last component.
TEST(PathString, ParentLastComponentAndExtension) {
  const PartsCase cases[] = {
      {"", "", "", ""},
      {"/", "/", "/", ""},
      {"//", "/", "/", ""},
      {"a", "", "a", ""},
      {"a/", "", "a", ""},
      {"a/b", "a", "b", ""},
      {"/a", "/", "a", ""},
      {"/a/", "/", "a", ""},
      {"/a/b/", "/a", "b", ""},
      {"/a//b", "/a", "b", ""},
      {"/Applications/x.app", "/Applications", "x.app", "app"},
      {"/Applications/x.app/", "/Applications", "x.app", "app"},
      {"/Applications/x.APP", "/Applications", "x.APP", "APP"},
      {"/Applications/.flc-move.1", "/Applications", ".flc-move.1", "1"},
      {"/a/a.b.c", "/a", "a.b.c", "c"},
      {"/a/.hidden", "/a", ".hidden", ""},
      {"/a/.app", "/a", ".app", ""},
      {"/a/x.", "/a", "x.", ""},
      {"/a.b/c", "/a.b", "c", ""},
      {"/my apps/Korvane 2.app", "/my apps", "Korvane 2.app", "app"},
      {"/a/.", "/a", ".", ""},
      {"/a/..", "/a", "..", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(deletingLastPathComponent(c.path), c.parent) << '"' << c.path << '"';
    EXPECT_EQ(lastPathComponent(c.path), c.last) << '"' << c.path << '"';
    EXPECT_EQ(pathExtension(c.path), c.extension) << '"' << c.path << '"';
  }
}

struct StandardizeCase {
  const char* path;
  const char* workingDirectory;
  const char* standardized;
};

// Catches "." or ".." left in, ".." climbing above the root, repeated or
// trailing "/" kept, a relative path not made absolute, or a name that merely
// starts with dots ("..x", ".flc-move.1") taken for "." or "..".
TEST(PathString, StandardizedPath) {
  const StandardizeCase cases[] = {
      {"/", "/w", "/"},
      {"//", "/w", "/"},
      {"/a/b/", "/w", "/a/b"},
      {"/a/./b/../c", "/w", "/a/c"},
      {"/a//b///c", "/w", "/a/b/c"},
      {"/..", "/w", "/"},
      {"/../x", "/w", "/x"},
      {"/a/../../x", "/w", "/x"},
      {"/a/.", "/w", "/a"},
      {"/a/..", "/w", "/"},
      {"/a/b/..", "/w", "/a"},
      {"/a/x.app/", "/w", "/a/x.app"},
      {"/a/..x/.y", "/w", "/a/..x/.y"},
      {"/a/.flc-move.1/", "/w", "/a/.flc-move.1"},
      {"/my apps/Korvane 2.app/.", "/w", "/my apps/Korvane 2.app"},
      {"", "/w/d", "/w/d"},
      {"a", "/w", "/w/a"},
      {"a/", "/w/", "/w/a"},
      {"./a/../b", "/w", "/w/b"},
      {"../../../x", "/w", "/x"},
      {"..", "/", "/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(standardizedPath(c.path, c.workingDirectory), c.standardized)
        << '"' << c.path << "\" in \"" << c.workingDirectory << '"';
  }
}

// Catches the one-argument form not taking the process's working directory.
TEST(PathString, StandardizedPathUsesTheWorkingDirectory) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(standardizedPath("x/./y/"), standardizedPath(std::string(cwd) + "/x/y", "/"));
  EXPECT_EQ(standardizedPath("/a/../b"), "/b");
}

}  // namespace
}  // namespace korvane
