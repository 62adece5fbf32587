// The file system as the install-location operations see it.
//
// Thread: any; the operations are meant for the worker queue. Paths are byte
// strings; a path that holds a NUL byte cannot name a file and fails (or reads
// false) without touching the disk.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <system_error>

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
};

// The real file system. Made once, kept for the life of the process.
FileSystem& realFileSystem();

}  // namespace korvane
