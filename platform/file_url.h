// A file URL, held as its absolute path. Thread: any.
#pragma once

#include <string>
#include <string_view>

namespace korvane {

class FileURL {
 public:
  // The URL of `path`; a relative path is taken against the current working
  // directory. Nothing else changes: "." and ".." stay, links are not resolved.
  static FileURL fileURLWithPath(std::string_view path);

  const std::string& path() const { return path_; }
  friend bool operator==(const FileURL&, const FileURL&) = default;

 private:
  explicit FileURL(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace korvane
