#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <filesystem>
#include <thread>

#include "testing/temp_dir.h"
#include "testing/unix_socket.h"

namespace korvane {
namespace {

using Lines = std::vector<std::string>;
FileSystem& files = realFileSystem();

std::string quoted(const std::string& path) { return "\u201c" + path + "\u201d"; }

// The type text of the item at `path`, or why its attributes could not be read.
std::string typeAt(const std::string& path) {
  const auto result = files.attributesOfItem(path);
  if (!result.attributes) return result.error.description;
  return std::string(fileTypeText(result.attributes->type.value_or(FileType::unknown)));
}

// A folder holding an item of each kind; `scene(name)` is the path of one.
struct Scene {
  Scene() {
    mkdir(dir.file("folder").c_str(), 0700);
    mkdir(dir.file("empty").c_str(), 0700);
    std::ofstream(dir.file("folder/inside")) << "payload";
    std::ofstream(dir.file(".file")) << "kept";
    symlink(dir.file("folder").c_str(), dir.file("link").c_str());
    symlink(dir.file("missing").c_str(), dir.file("dangling").c_str());
    mkfifo(dir.file("fifo").c_str(), 0600);
    close(testing::bindUnixSocket(dir.file("socket"), false));
  }
  std::string operator()(const std::string& name) const { return dir.file(name); }
  testing::TempDir dir;
};

// Catches a final link followed (a link to a folder reported as a folder, a dangling one as
// unreadable), a kind given the wrong type text (the texts reach the interface unchanged), a
// failure without the path and the system's reason, an existence test that does not follow a
// final link, a listing that drops hidden names, lists "." or "..", gives a type that is not the
// entry's own or fails on an empty folder, a read-only flag misread or a missing path answered as
// writable, and a path cut short at a NUL byte and then used; a move that replaces what is at the
// destination (a plain rename replaces an empty folder, a file and a dangling link) or loses its
// source, one onto a free name that does not arrive whole, and one to a path cut short.
TEST(FileSystem, EachKindOfItemIsDescribedListedAndNeverReplacedByAMove) {
  const Scene scene;
  const auto listing = files.contentsOfDirectory(scene.dir.path());
  ASSERT_TRUE(listing.names && (listing.types.empty() || listing.types.size() == 7));
  Lines seen;
  for (size_t i = 0; i < listing.names->size(); ++i) {
    const std::string& name = (*listing.names)[i];
    // A type the listing gives is the entry's own.
    EXPECT_TRUE(listing.types.empty() || !listing.types[i] ||
                fileTypeText(*listing.types[i]) == typeAt(scene(name)));
    seen.push_back(name + " " + typeAt(scene(name)) +
                   (files.fileExists(scene(name)) ? "" : " gone"));
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (Lines{".file NSFileTypeRegular", "dangling NSFileTypeSymbolicLink gone",
                         "empty NSFileTypeDirectory", "fifo NSFileTypeUnknown",
                         "folder NSFileTypeDirectory", "link NSFileTypeSymbolicLink",
                         "socket NSFileTypeSocket"}));
  EXPECT_EQ(typeAt("/dev/null"), "NSFileTypeCharacterSpecial");
  EXPECT_EQ(fileTypeText(FileType::blockSpecial), "NSFileTypeBlockSpecial");
  EXPECT_EQ(typeAt(scene("missing")), "The attributes of " + quoted(scene("missing")) +
                                          " could not be read: No such file or directory");
  EXPECT_EQ(files.contentsOfDirectory(scene(".file")).error.description,
            "The folder " + quoted(scene(".file")) + " could not be listed: Not a directory");
  EXPECT_EQ(files.contentsOfDirectory(scene("empty")).names, Lines{});
  EXPECT_EQ(files.isOnReadOnlyVolume(scene("folder")), false);
  EXPECT_EQ(files.isOnReadOnlyVolume(scene("missing")), std::nullopt);
  // Cut at the NUL, the path would name the folder.
  const std::string cut = scene("folder") + '\0';
  EXPECT_FALSE(files.fileExists(cut) || files.isWritableFile(cut) || files.isOnReadOnlyVolume(cut));
  EXPECT_EQ(files.attributesOfItem(cut).error.code, std::errc::invalid_argument);
  EXPECT_EQ(files.contentsOfDirectory(cut).error.code, std::errc::invalid_argument);

  for (const std::string move :
       {"folder>empty", "folder>.file", "folder>dangling", "socket>.file", "socket>dangling"}) {
    const std::string from = scene(move.substr(0, move.find('>')));
    const std::string to = scene(move.substr(move.find('>') + 1)), before = typeAt(to);
    const auto failure = files.moveItemWithoutReplacing(from, to);
    EXPECT_EQ(failure ? failure->description : "moved",
              quoted(from) + " could not be moved to " + quoted(to) + ": File exists");
    EXPECT_EQ(typeAt(to), before) << move;
  }
  const auto cutMove = files.moveItemWithoutReplacing(scene("folder"), scene("Korvane.app") + '\0');
  EXPECT_TRUE(cutMove && cutMove->code == std::errc::invalid_argument);
  EXPECT_EQ(files.moveItemWithoutReplacing(scene("folder"), scene("Korvane.app")), std::nullopt);
  EXPECT_EQ(testing::readFile(scene("Korvane.app/inside")), "payload");
  EXPECT_FALSE(files.fileExists(scene("folder")));
}

// Catches a check-then-rename: with another thread creating the destination at
// about the same moment (each side in turn waiting a little), a move and the creation
// never both succeed, and no prepared folder is ever lost.
TEST(FileSystem, MoveRacingACreatorNeverReplacesOrLoses) {
  testing::TempDir dir;
  const std::string dest = dir.file("K.app");
  std::barrier sync(2);
  std::atomic<int> created{0}, sink{0};
  const auto wait = [&](int round, int side) {  // the sign of the round's offset picks who waits
    for (int i = std::max(0, side * (round % 128 - 64)) * 400; i > 0; --i) sink++;
  };
  std::jthread creator([&] {
    for (int round = 0; round < 1000; ++round, sync.arrive_and_wait()) {
      sync.arrive_and_wait();
      wait(round, -1);
      created = mkdir(dest.c_str(), 0700) == 0;
    }
  });
  int bothWon = 0, lost = 0, moves = 0;
  for (int round = 0; round < 1000; ++round) {
    const std::string temp = dir.file("t" + std::to_string(round));
    std::filesystem::create_directories(temp + "/m");
    sync.arrive_and_wait();
    wait(round, 1);
    const bool moved = !files.moveItemWithoutReplacing(temp, dest);
    sync.arrive_and_wait();
    moves += moved, bothWon += moved && created;
    lost += files.fileExists(temp + "/m") == files.fileExists(dest + "/m");
    std::filesystem::remove_all(dest), std::filesystem::remove_all(temp);
  }
  EXPECT_EQ(bothWon + lost, 0);
  EXPECT_TRUE(moves > 0 && moves < 1000) << moves << " moves: the race was not run";
}

}  // namespace
}  // namespace korvane
