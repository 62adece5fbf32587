#include "platform/file_url.h"

#include <unistd.h>

#include <climits>
#include <string>

namespace korvane {

FileURL FileURL::fileURLWithPath(std::string_view path) {
  if (!path.empty() && path.front() == '/') return FileURL(std::string(path));
  std::string absolute;
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) != nullptr) absolute = buffer;
  if (absolute.empty() || absolute.back() != '/') absolute.push_back('/');
  absolute.append(path);
  return FileURL(std::move(absolute));
}

}  // namespace korvane
