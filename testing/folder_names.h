// The names in a folder, for tests that check what was (not) left behind.
// Thread: the test's own.
#pragma once

#include <dirent.h>

#include <set>
#include <string>

namespace korvane::testing {

// The entries of `folder` without "." and ".."; empty when it cannot be read.
inline std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

}  // namespace korvane::testing
