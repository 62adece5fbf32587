// A file system that answers every call as the real one does; tests derive
// from it and override only the calls they need to slow down, gate or fail.
// Thread: any, as the real file system.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace korvane::testing {

class ForwardingFileSystem : public FileSystem {
 public:
  AttributeLookup extendedAttribute(const std::string& path, const std::string& name) override {
    return realFileSystem().extendedAttribute(path, name);
  }
  bool isWritableFile(const std::string& path) override {
    return realFileSystem().isWritableFile(path);
  }
  bool fileExists(const std::string& path) override { return realFileSystem().fileExists(path); }
  AttributesResult attributesOfItem(const std::string& path) override {
    return realFileSystem().attributesOfItem(path);
  }
  DirectoryListing contentsOfDirectory(const std::string& path) override {
    return realFileSystem().contentsOfDirectory(path);
  }
  std::optional<FileError> moveItemWithoutReplacing(const std::string& from,
                                                    const std::string& to) override {
    return realFileSystem().moveItemWithoutReplacing(from, to);
  }
  std::optional<bool> isOnReadOnlyVolume(const std::string& path) override {
    return realFileSystem().isOnReadOnlyVolume(path);
  }
};

}  // namespace korvane::testing
