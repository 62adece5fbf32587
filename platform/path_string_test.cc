#include "platform/path_string.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/bundle_paths.h"

namespace korvane {
namespace {

// The fields of a case written "a|b|c".
std::vector<std::string> fields(std::string_view text) {
  std::vector<std::string> parts{""};
  for (const char c : text) c == '|' ? parts.emplace_back() : parts.back() += c;
  return parts;
}

// Catches a doubled or missing "/" at a join (the root turned into "//"), a trailing "/" taken as
// an empty last component, a relative name given "/" as parent, a hidden name's leading "." read
// as an extension, and an extension taken from a folder above the last component.
// Cases: "path|component|joined|parent|last component|extension".
TEST(PathString, ComponentsAndExtension) {
  for (const char* c : {"/Applications/|K.app|/Applications/K.app|/|Applications|", "//|x|/x|/|/|",
                        "|x|x|||", "a/|/b|a/b||a|", "/a//b/|c|/a//b/c|/a|b|",
                        "/a/.flc-move.1||/a/.flc-move.1|/a|.flc-move.1|1",
                        "/a/.hidden|x|/a/.hidden/x|/a|.hidden|", "/a.b/c.|d|/a.b/c./d|/a.b|c.|"}) {
    const std::string path = fields(c)[0], component = fields(c)[1];
    EXPECT_EQ((std::vector<std::string>{path, component, appendingPathComponent(path, component),
                                        deletingLastPathComponent(path), lastPathComponent(path),
                                        pathExtension(path)}),
              fields(c));
  }
}

// Catches "." or ".." left in, ".." climbing above the root, repeated or trailing "/" kept, a
// relative path not made absolute (against the process's working folder when none is given), and
// a name that merely starts with dots taken for "." or "..". Cases: "path|working folder|result".
TEST(PathString, StandardizedPath) {
  for (const char* c : {"//|/w|/", "/a/./b/../c/|/w|/a/c", "/a//b|/w|/a/b", "/a/../../x|/w|/x",
                        "/a/..x/.y|/w|/a/..x/.y", "|/w/d|/w/d", "./a/../b|/w/|/w/b", "..|/|/"}) {
    EXPECT_EQ(standardizedPath(fields(c)[0], fields(c)[1]), fields(c)[2]) << c;
  }
  EXPECT_EQ(standardizedPath("x/./y/"), std::filesystem::current_path() / "x/y");
}

// Catches a bundle taken from the outer of two bundles, from an executable nested deeper than
// MacOS/, from a folder named in another letter case or a hidden ".app", a main bundle that is not
// the executable's folder when there is no ".app", and the mark of a removed executable cut from
// the middle of a name. Cases: "executable|its .app bundle|its main bundle".
TEST(BundlePaths, BundleOfExecutable) {
  for (const char* c :
       {"/O.app/Contents/I.app/Contents/MacOS/i|/O.app/Contents/I.app|/O.app/Contents/I.app",
        "/K.app/Contents/MacOS/sub/k||/K.app/Contents/MacOS/sub",
        "/K.APP/Contents/MacOS/k||/K.APP/Contents/MacOS",
        "/.app/Contents/MacOS/k||/.app/Contents/MacOS", "/k||/"}) {
    EXPECT_EQ(appBundleOfExecutable(fields(c)[0]).value_or(""), fields(c)[1]) << c;
    EXPECT_EQ(mainBundlePathOfExecutable(fields(c)[0]), fields(c)[2]) << c;
  }
  EXPECT_EQ(withoutDeletedMark("/a/x (deleted)/k"), "/a/x (deleted)/k");
}

}  // namespace
}  // namespace korvane
