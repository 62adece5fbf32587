#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/file_url.h"
#include "testing/child_process.h"
#include "testing/temp_dir.h"
#include "testing/unix_socket.h"

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
  EXPECT_FALSE(realFileSystem().fileExists(path));  // dir itself exists
  EXPECT_EQ(realFileSystem().attributesOfItem(path).error.code, std::errc::invalid_argument);
  EXPECT_EQ(realFileSystem().contentsOfDirectory(path).error.code, std::errc::invalid_argument);
  EXPECT_EQ(realFileSystem().isOnReadOnlyVolume(path), std::nullopt);
  const std::string from = dir.file("from");
  ASSERT_EQ(mkdir(from.c_str(), 0700), 0);
  // Cut at the NUL, this would be a move to a free name beside `from`.
  const auto moved = realFileSystem().moveItemWithoutReplacing(from, dir.file("to") + '\0' + "x");
  ASSERT_TRUE(moved.has_value());
  EXPECT_EQ(moved->code, std::errc::invalid_argument);
  EXPECT_TRUE(realFileSystem().fileExists(from));
  EXPECT_FALSE(realFileSystem().fileExists(dir.file("to")));
}

// Catches relative paths left relative or absolute ones altered.
TEST(FileURL, WithPathIsAbsoluteAndOtherwiseUnchanged) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(FileURL::fileURLWithPath("/a/./b/../c/").path(), "/a/./b/../c/");
  EXPECT_EQ(FileURL::fileURLWithPath("x/y").path(), std::string(cwd) + "/x/y");
  EXPECT_EQ(FileURL::fileURLWithPath("").path(), std::string(cwd) + "/");
}

std::optional<FileType> typeAt(const std::string& path) {
  auto result = realFileSystem().attributesOfItem(path);
  if (!result.attributes) return std::nullopt;
  return result.attributes->type;
}

std::string quotedPath(const std::string& path) { return "\u201c" + path + "\u201d"; }

bool makeSocket(const std::string& path) {
  const int fd = testing::bindUnixSocket(path, false);
  if (fd < 0) return false;
  close(fd);  // the socket file stays
  return true;
}

// Catches a misspelt type text: the texts reach the interface unchanged.
TEST(FileSystem, FileTypeTexts) {
  const std::pair<FileType, const char*> cases[] = {
      {FileType::directory, "NSFileTypeDirectory"},
      {FileType::regular, "NSFileTypeRegular"},
      {FileType::symbolicLink, "NSFileTypeSymbolicLink"},
      {FileType::socket, "NSFileTypeSocket"},
      {FileType::characterSpecial, "NSFileTypeCharacterSpecial"},
      {FileType::blockSpecial, "NSFileTypeBlockSpecial"},
      {FileType::unknown, "NSFileTypeUnknown"},
  };
  for (const auto& [type, text] : cases) EXPECT_EQ(fileTypeText(type), text);
}

// Catches a final link followed (a link to a folder reported as a folder, a
// dangling link as unreadable), a FIFO or device given the wrong kind, and a
// missing item reported without its path and reason.
TEST(FileSystem, AttributesOfEachKindOfItem) {
  testing::TempDir dir;
  ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0700), 0);
  std::ofstream(dir.file("file")) << "x";
  ASSERT_EQ(symlink(dir.file("folder").c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("nothing").c_str(), dir.file("dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_TRUE(makeSocket(dir.file("socket")));

  EXPECT_EQ(typeAt(dir.file("folder")), FileType::directory);
  EXPECT_EQ(typeAt(dir.file("file")), FileType::regular);
  EXPECT_EQ(typeAt(dir.file("link")), FileType::symbolicLink);
  EXPECT_EQ(typeAt(dir.file("dangling")), FileType::symbolicLink);
  EXPECT_EQ(typeAt(dir.file("fifo")), FileType::unknown);
  EXPECT_EQ(typeAt(dir.file("socket")), FileType::socket);
  EXPECT_EQ(typeAt("/dev/null"), FileType::characterSpecial);
  if (mknod(dir.file("block").c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0) {
    EXPECT_EQ(typeAt(dir.file("block")), FileType::blockSpecial);
  }

  const std::string missing = dir.file("missing");
  const auto result = realFileSystem().attributesOfItem(missing);
  EXPECT_FALSE(result.attributes.has_value());
  EXPECT_EQ(result.error.code, std::errc::no_such_file_or_directory);
  EXPECT_EQ(result.error.description, "The attributes of " + quotedPath(missing) +
                                          " could not be read: No such file or directory");
}

// Catches an existence test that does not follow a final link (a dangling
// link counted as existing, a link to a folder as missing).
TEST(FileSystem, FileExistsFollowsAFinalLink) {
  testing::TempDir dir;
  std::ofstream(dir.file("file")) << "x";
  ASSERT_EQ(symlink(dir.path().c_str(), dir.file("link").c_str()), 0);
  ASSERT_EQ(symlink(dir.file("nothing").c_str(), dir.file("dangling").c_str()), 0);
  EXPECT_TRUE(realFileSystem().fileExists(dir.file("file")));
  EXPECT_TRUE(realFileSystem().fileExists(dir.path()));
  EXPECT_TRUE(realFileSystem().fileExists(dir.file("link")));
  EXPECT_FALSE(realFileSystem().fileExists(dir.file("dangling")));
  EXPECT_FALSE(realFileSystem().fileExists(dir.file("nothing")));
}

// Catches hidden names dropped, "." and ".." listed, names of subfolders
// left out, or an empty folder reported as a failure.
TEST(FileSystem, ListingHoldsEveryNameButDotAndDotDot) {
  testing::TempDir dir;
  std::ofstream(dir.file("a.app")) << "x";
  std::ofstream(dir.file(".hidden")) << "x";
  ASSERT_EQ(mkdir(dir.file(".flc-move.1").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
  ASSERT_EQ(symlink("nothing", dir.file("dangling").c_str()), 0);
  std::ofstream(dir.file("sub/deeper")) << "x";

  auto listing = realFileSystem().contentsOfDirectory(dir.path());
  ASSERT_TRUE(listing.names.has_value()) << listing.error.description;
  auto names = *listing.names;
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{".flc-move.1", ".hidden", "a.app", "dangling", "sub"}));
  // A type the listing gives is the entry's own, as its attributes say.
  ASSERT_TRUE(listing.types.empty() || listing.types.size() == listing.names->size());
  for (size_t i = 0; i < listing.types.size(); ++i) {
    if (!listing.types[i]) continue;
    const std::string path = dir.file((*listing.names)[i]);
    EXPECT_EQ(listing.types[i], realFileSystem().attributesOfItem(path).attributes->type) << path;
  }

  auto empty = realFileSystem().contentsOfDirectory(dir.file("sub/../.flc-move.1"));
  ASSERT_TRUE(empty.names.has_value());
  EXPECT_TRUE(empty.names->empty());
}

// Catches a listing failure without the folder's path and the system's reason,
// or with the wrong error.
TEST(FileSystem, ListingFailuresNameFolderAndReason) {
  testing::TempDir dir;
  const std::string file = dir.file("plain");
  std::ofstream(file) << "x";
  auto notFolder = realFileSystem().contentsOfDirectory(file);
  EXPECT_FALSE(notFolder.names.has_value());
  EXPECT_EQ(notFolder.error.code, std::errc::not_a_directory);
  EXPECT_EQ(notFolder.error.description,
            "The folder " + quotedPath(file) + " could not be listed: Not a directory");

  const std::string missing = dir.file("missing");
  auto gone = realFileSystem().contentsOfDirectory(missing);
  EXPECT_FALSE(gone.names.has_value());
  EXPECT_EQ(gone.error.code, std::errc::no_such_file_or_directory);
  EXPECT_EQ(gone.error.description, "The folder " + quotedPath(missing) +
                                        " could not be listed: No such file or directory");
}

// Catches a folder the user may not read listed as empty (root would bypass,
// so a child drops to an unprivileged user).
TEST(FileSystem, ListingAFolderWithoutPermissionFails) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to drop to another user";
  testing::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  const std::string locked = dir.file("locked");
  ASSERT_EQ(mkdir(locked.c_str(), 0700), 0);
  std::ofstream(locked + "/x.app") << "x";
  const std::string expected =
      "The folder " + quotedPath(locked) + " could not be listed: Permission denied";
  const int status = testing::runInChild(
      [&] {
        auto listing = realFileSystem().contentsOfDirectory(locked);
        if (listing.names.has_value()) return 1;
        if (listing.error.code != std::errc::permission_denied) return 2;
        if (listing.error.description != expected) return 3;
        return 0;
      },
      testing::kNobody);
  EXPECT_EQ(status, 0);
}

// Catches a move that does not arrive whole, or leaves the source behind.
TEST(FileSystem, MoveOntoAFreeName) {
  testing::TempDir dir;
  const std::string from = dir.file(".flc-move.1");
  const std::string to = dir.file("Korvane.app");
  ASSERT_EQ(mkdir(from.c_str(), 0700), 0);
  std::ofstream(from + "/inside") << "payload";
  EXPECT_EQ(realFileSystem().moveItemWithoutReplacing(from, to), std::nullopt);
  EXPECT_FALSE(realFileSystem().fileExists(from));
  std::stringstream moved;
  moved << std::ifstream(to + "/inside").rdbuf();
  EXPECT_EQ(moved.str(), "payload");
}

// Catches a move that replaces what is at the destination: a plain rename
// replaces an empty folder, a file (for a file) and a dangling link.
TEST(FileSystem, MoveNeverReplacesAnything) {
  testing::TempDir dir;
  const std::string folder = dir.file("folder");
  const std::string file = dir.file("file");
  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  std::ofstream(folder + "/inside") << "x";
  std::ofstream(file) << "source";

  ASSERT_EQ(mkdir(dir.file("emptyFolder").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("fullFolder").c_str(), 0700), 0);
  std::ofstream(dir.file("fullFolder/kept")) << "x";
  std::ofstream(dir.file("otherFile")) << "kept";
  ASSERT_EQ(symlink("nothing", dir.file("dangling").c_str()), 0);

  const std::pair<std::string, std::string> moves[] = {
      {folder, "emptyFolder"}, {folder, "fullFolder"}, {folder, "otherFile"},
      {folder, "dangling"},    {file, "otherFile"},    {file, "dangling"},
  };
  for (const auto& [from, name] : moves) {
    const std::string to = dir.file(name);
    const auto before = typeAt(to);
    const auto failure = realFileSystem().moveItemWithoutReplacing(from, to);
    ASSERT_TRUE(failure.has_value()) << from << " -> " << name;
    EXPECT_EQ(failure->code, std::errc::file_exists) << from << " -> " << name;
    EXPECT_EQ(failure->description,
              quotedPath(from) + " could not be moved to " + quotedPath(to) + ": File exists");
    EXPECT_EQ(typeAt(to), before) << name;
    EXPECT_TRUE(realFileSystem().fileExists(from)) << from;
  }
  EXPECT_TRUE(realFileSystem().fileExists(folder + "/inside"));
  EXPECT_TRUE(realFileSystem().fileExists(dir.file("fullFolder/kept")));
  std::stringstream kept;
  kept << std::ifstream(dir.file("otherFile")).rdbuf();
  EXPECT_EQ(kept.str(), "kept");
  EXPECT_EQ(typeAt(dir.file("emptyFolder")), FileType::directory);
}

// Catches a check-then-rename (or a fallback to a plain rename): while another
// thread creates the destination at the same moment, a move must either win
// (the creator then fails) or fail and leave its folder in place; never both
// succeed, and no prepared folder is ever lost.
TEST(FileSystem, MoveRacingACreatorNeverReplacesOrLoses) {
  testing::TempDir dir;
  const std::string dest = dir.file("Korvane.app");
  constexpr int kRounds = 2000;
  std::barrier sync(2);
  std::atomic<bool> created{false};
  // Which side waits before it acts, and how long (ns; positive: the mover).
  // It steers towards the point where each side wins half the rounds, on any
  // machine, and a per-round jitter spreads the distance around that point.
  std::atomic<int64_t> lead{0};
  auto waitOf = [&](int round, int64_t sign) {
    const int64_t wait = sign * (lead.load() + (round * 37 % 16 - 8) * 100);
    const auto start = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - start < std::chrono::nanoseconds(wait)) {
    }
  };
  std::thread creator([&] {
    for (int round = 0; round < kRounds; ++round) {
      sync.arrive_and_wait();  // both start
      waitOf(round, -1);
      created.store(mkdir(dest.c_str(), 0700) == 0);
      sync.arrive_and_wait();  // both done
      sync.arrive_and_wait();  // checked and cleared
    }
  });

  int moves = 0, creations = 0, bothWon = 0, neitherWon = 0, lost = 0, wrongContent = 0;
  int64_t step = 100;
  bool lastMoved = false;
  for (int round = 0; round < kRounds; ++round) {
    const std::string temp = dir.file(".flc-move." + std::to_string(round));
    const std::string marker = "/marker-" + std::to_string(round);
    EXPECT_EQ(mkdir(temp.c_str(), 0700), 0);  // no ASSERT: the creator waits for every round
    std::ofstream(temp + marker) << "x";
    sync.arrive_and_wait();
    waitOf(round, 1);
    const bool moved = !realFileSystem().moveItemWithoutReplacing(temp, dest).has_value();
    sync.arrive_and_wait();
    const bool made = created.load();
    moves += moved;
    creations += made;
    if (moved && made) ++bothWon;
    if (!moved && !made) ++neitherWon;
    const bool atTemp = realFileSystem().fileExists(temp + marker);
    const bool atDest = realFileSystem().fileExists(dest + marker);
    if (atTemp == atDest) ++lost;  // gone, or somehow in both places
    if (atDest != moved) ++wrongContent;
    // Steps grow while one side keeps winning (a slow wake-up, as under a
    // sanitizer, may need a long lead) and shrink when the winner changes.
    step = moved == lastMoved ? std::min<int64_t>(step * 2, 1'000'000)
                              : std::max<int64_t>(step / 2, 50);
    lastMoved = moved;
    lead.fetch_add(moved ? step : -step);
    // Clear for the next round.
    unlink((dest + marker).c_str());
    unlink((temp + marker).c_str());
    rmdir(dest.c_str());
    rmdir(temp.c_str());
    sync.arrive_and_wait();
  }
  creator.join();
  EXPECT_EQ(bothWon, 0);
  EXPECT_EQ(neitherWon, 0);
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(wrongContent, 0);
  EXPECT_EQ(moves + creations, kRounds);
  std::cout << "moves won " << moves << ", creations won " << creations << " of " << kRounds
            << " rounds\n";
}

// Catches a read-only flag read from the wrong field, or a missing path
// answered as writable.
TEST(FileSystem, ReadOnlyVolumeOfWritableAndMissingPaths) {
  testing::TempDir dir;
  EXPECT_EQ(realFileSystem().isOnReadOnlyVolume(dir.path()), false);
  EXPECT_EQ(realFileSystem().isOnReadOnlyVolume(dir.file("missing")), std::nullopt);
}

// Catches a read-only mount reported as writable: a child in its own mount
// namespace mounts an empty read-only tmpfs over a temporary folder.
TEST(FileSystem, ReadOnlyVolumeOfAReadOnlyMount) {
  if (!testing::canSwitchUser()) GTEST_SKIP() << "needs root to mount";
  testing::TempDir dir;
  const std::string target = dir.file("mounted");
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  constexpr int kCannotMount = 77;
  const int status = testing::runInChild([&] {
    if (unshare(CLONE_NEWNS) != 0) return kCannotMount;
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kCannotMount;
    if (mount("tmpfs", target.c_str(), "tmpfs", MS_RDONLY, nullptr) != 0) return kCannotMount;
    const auto readOnly = realFileSystem().isOnReadOnlyVolume(target);
    if (readOnly != true) return 1;
    if (mount(nullptr, target.c_str(), nullptr, MS_REMOUNT, nullptr) != 0) return kCannotMount;
    if (realFileSystem().isOnReadOnlyVolume(target) != false) return 2;
    return 0;
  });
  if (status == kCannotMount) GTEST_SKIP() << "mounting is not allowed here";
  EXPECT_EQ(status, 0);
}

// Catches disagreement with the mount table: every mount point listed (the
// last mount on each, escaped names left out) reads as read-only exactly when
// its options begin with "ro".
TEST(FileSystem, ReadOnlyVolumeAgreesWithTheMountTable) {
  std::ifstream table("/proc/self/mounts");
  std::map<std::string, bool> readOnlyAt;
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string device, mountPoint, type, options;
    if (!(fields >> device >> mountPoint >> type >> options)) continue;
    if (mountPoint.find('\\') != std::string::npos) continue;
    readOnlyAt[mountPoint] = options == "ro" || options.starts_with("ro,");
  }
  int checked = 0;
  for (const auto& [mountPoint, readOnly] : readOnlyAt) {
    const auto answer = realFileSystem().isOnReadOnlyVolume(mountPoint);
    if (!answer) continue;  // hidden under a later mount, or not reachable
    EXPECT_EQ(*answer, readOnly) << mountPoint;
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
}  // namespace korvane
