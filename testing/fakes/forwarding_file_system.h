// A FileSystem that answers every call as the real one does, with switches
// that inject one fault at a time:
//  - beforeCall runs before an attribute lookup ("extendedAttribute", with
//    the path) and before a move ("moveItemWithoutReplacing", with the
//    destination), to slow the call down, record where it runs, or change the
//    disk under it (take a move's destination, say);
//  - readOnlyVolume overrides the volume flag: a value, or nullopt inside for
//    "cannot be read".
// Tests may also derive from it and override a call of their own.
// Thread: any, as the real file system; set the switches before the calls.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace korvane::testing {

class ForwardingFileSystem : public FileSystem {
 public:
  AttributeLookup extendedAttribute(const std::string& path, const std::string& name) override {
    if (beforeCall) beforeCall("extendedAttribute", path);
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
    if (beforeCall) beforeCall("moveItemWithoutReplacing", to);
    return realFileSystem().moveItemWithoutReplacing(from, to);
  }
  std::optional<bool> isOnReadOnlyVolume(const std::string& path) override {
    return readOnlyVolume ? *readOnlyVolume : realFileSystem().isOnReadOnlyVolume(path);
  }

  std::function<void(std::string_view call, const std::string& path)> beforeCall;
  std::optional<std::optional<bool>> readOnlyVolume;
};

}  // namespace korvane::testing
