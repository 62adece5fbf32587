// The file system as the install-location operations see it.
//
// Thread: any; the operations are meant for the worker queue. Paths are byte
// strings; a path that holds a NUL byte cannot name a file and fails (or reads
// false) without touching the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace korvane {

// What a lookup of one extended attribute found.
struct AttributeLookup {
  enum class Status {
    present,  // the attribute exists; `size` is its value's length (may be 0)
    missing,  // the file exists and has no such attribute
    failed,   // anything else: no such file, no permission, no attribute support
  };
  Status status = Status::failed;
  size_t size = 0;
  std::error_code error;  // set when failed
};

// The kinds of item, as the reference platform names them (the file-type
// texts the interface sees are the same on every platform).
enum class FileType {
  directory,
  regular,
  symbolicLink,
  socket,
  characterSpecial,
  blockSpecial,
  unknown
};

// "NSFileTypeDirectory", "NSFileTypeRegular", "NSFileTypeSymbolicLink",
// "NSFileTypeSocket", "NSFileTypeCharacterSpecial", "NSFileTypeBlockSpecial",
// "NSFileTypeUnknown" (FIFOs and anything else).
std::string_view fileTypeText(FileType type);

// A failed file-system call: the error and a human-readable description that
// names the path and the system's reason (the error's own message, e.g.
// "Permission denied"). The real backend words them, for each operation:
//   attributesOfItem:         The attributes of “<path>” could not be read: <reason>
//   contentsOfDirectory:      The folder “<path>” could not be listed: <reason>
//   moveItemWithoutReplacing: “<from>” could not be moved to “<to>”: <reason>
struct FileError {
  std::error_code code;
  std::string description;
};

// Which item a path names: the volume and the item's number on it
// (NSFileSystemNumber, NSFileSystemFileNumber). Two paths with the same
// identity name the same item, however each is spelled (a folder on the way
// reached through a symbolic link, say).
struct FileIdentity {
  uint64_t systemNumber = 0;
  uint64_t systemFileNumber = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// An item's own attributes (a final symbolic link is not followed).
struct ItemAttributes {
  std::optional<FileType> type;          // the platform may report none
  std::optional<FileIdentity> identity;  // the platform may report none
};

struct AttributesResult {
  std::optional<ItemAttributes> attributes;  // nullopt: could not be read (see error)
  FileError error;
};

struct DirectoryListing {
  // The names of the immediate entries, hidden ones included, "." and ".."
  // excluded, in the order the system returns them; nullopt on failure.
  std::optional<std::vector<std::string>> names;
  // Each entry's own type (a final link not followed), as attributesOfItem
  // would report it, when the listing tells it for free: empty, or one per
  // name with nullopt where it does not. Saves a look at each entry.
  std::vector<std::optional<FileType>> types;
  FileError error;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Looks up the extended attribute `name` of `path` by its reference-platform
  // name (e.g. "com.apple.quarantine"); the backend maps it to the name this
  // platform stores it under. Follows a final symbolic link.
  virtual AttributeLookup extendedAttribute(const std::string& path, const std::string& name) = 0;

  // Whether the current user may write `path` (the path unchanged; false when
  // it does not exist).
  virtual bool isWritableFile(const std::string& path) = 0;

  // Whether an item exists at `path`, a final symbolic link followed (a
  // dangling link counts as missing).
  virtual bool fileExists(const std::string& path) = 0;

  // The attributes of the item itself, a final symbolic link not followed.
  virtual AttributesResult attributesOfItem(const std::string& path) = 0;

  virtual DirectoryListing contentsOfDirectory(const std::string& path) = 0;

  // Moves the item at `from` to `to` with one rename that never replaces
  // anything: when an item exists at `to` (also one that appears during the
  // call) the move fails. A file system that cannot promise that fails the
  // move too; there is no fallback. nullopt on success.
  virtual std::optional<FileError> moveItemWithoutReplacing(const std::string& from,
                                                            const std::string& to) = 0;

  // Whether the volume holding `path` is mounted read-only; nullopt when its
  // status cannot be read.
  virtual std::optional<bool> isOnReadOnlyVolume(const std::string& path) = 0;
};

// The real file system. Made once, kept for the life of the process.
FileSystem& realFileSystem();

}  // namespace korvane
