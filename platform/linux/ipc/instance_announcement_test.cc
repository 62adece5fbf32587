#include "platform/linux/ipc/instance_announcement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "testing/temp_dir.h"

namespace korvane {
namespace {

// Catches a value that breaks the line format (a newline forging a line, a
// NUL cutting it, a backslash read as an escape) or comes back changed.
TEST(InstanceAnnouncement, AnyBytesSurviveTheFile) {
  testing::TempDir dir;
  const InstanceAnnouncement cases[] = {
      {42, 7, std::nullopt, std::nullopt},
      {42, 7, "/Applications/Korvane.app", std::nullopt},
      {2147483647, 18446744073709551615u, "/a/K\norvane.app",
       std::string("app.korvane.Korvane\0tail\nidentifier=x\\x41", 41)},
  };
  for (const InstanceAnnouncement& announcement : cases) {
    ASSERT_FALSE(writeInstanceAnnouncement(dir.path(), announcement));
    const std::string path = dir.file(instanceAnnouncementFileName(announcement.pid));
    EXPECT_EQ(readInstanceAnnouncement(path), announcement) << path;
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
  }
}

// Catches a damaged or forged file taken for an announcement.
TEST(InstanceAnnouncement, RefusesWhatIsNotOne) {
  for (const char* text :
       {"", "pid=1\n", "start=1\n", "pid=1\nstart=1", "pid=0\nstart=1\n", "pid=-1\nstart=1\n",
        "pid=1\nstart=x\n", "pid=1\npid=2\nstart=1\n", "pid=1\nstart=1\nidentifier=a\n",
        "pid=1\nstart=1\nbundle=\\x4\n", "pid=1\nstart=1\nbundle=\\y41\n",
        "pid=1\nstart=1\nbundle=a\tb\n", "pid=1\nstart=1\nother=1\n"}) {
    EXPECT_FALSE(decodeInstanceAnnouncement(text).has_value()) << text;
  }
  EXPECT_EQ(pidOfAnnouncementFileName("app-12.info"), 12);
  for (const char* name : {"app-0.info", "app-012.info", "app-12.sock", "app-.info", "app-1x.info",
                           ".app-12.info.Ab12Cd"}) {
    EXPECT_FALSE(pidOfAnnouncementFileName(name).has_value()) << name;
  }
  testing::TempDir dir;
  const std::string link = dir.file("app-5.info");
  std::ofstream(dir.file("target")) << "pid=5\nstart=1\n";
  ASSERT_EQ(symlink(dir.file("target").c_str(), link.c_str()), 0);
  EXPECT_FALSE(readInstanceAnnouncement(link).has_value());
  EXPECT_TRUE(readInstanceAnnouncement(dir.file("target")).has_value());
}

}  // namespace
}  // namespace korvane
