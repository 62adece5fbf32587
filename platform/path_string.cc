// Pure string work: no system call here. The overload of standardizedPath that
// needs the working directory takes it from FileURL, which asks the system.
#include "platform/path_string.h"

#include <vector>

#include "platform/file_url.h"

namespace korvane {
namespace {

// `path` without its trailing "/"s; the root (any run of "/" alone) stays "/".
std::string_view withoutTrailingSlashes(std::string_view path) {
  const size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return path.empty() ? path : path.substr(0, 1);
  return path.substr(0, end + 1);
}

}  // namespace

std::string appendingPathComponent(std::string_view path, std::string_view component) {
  if (path.empty()) return std::string(component);
  std::string joined(withoutTrailingSlashes(path));
  while (!component.empty() && component.front() == '/') component.remove_prefix(1);
  if (component.empty()) return joined;
  if (joined != "/") joined.push_back('/');
  joined.append(component);
  return joined;
}

std::string deletingLastPathComponent(std::string_view path) {
  const std::string_view trimmed = withoutTrailingSlashes(path);
  if (trimmed == "/") return "/";
  const size_t slash = trimmed.find_last_of('/');
  if (slash == std::string_view::npos) return "";  // one relative component
  const std::string_view parent = withoutTrailingSlashes(trimmed.substr(0, slash + 1));
  return std::string(parent);
}

std::string lastPathComponent(std::string_view path) {
  const std::string_view trimmed = withoutTrailingSlashes(path);
  if (trimmed == "/") return "/";
  const size_t slash = trimmed.find_last_of('/');
  return std::string(slash == std::string_view::npos ? trimmed : trimmed.substr(slash + 1));
}

// A "." that begins the component marks a hidden name, not an extension:
// ".hidden" has none, as with the reference platform's file URLs (and its
// path strings), so a folder named ".app" is no bundle. "x." has the empty one.
std::string pathExtension(std::string_view path) {
  const std::string last = lastPathComponent(path);
  const size_t dot = last.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return "";
  return last.substr(dot + 1);
}

std::string standardizedPath(std::string_view path, std::string_view workingDirectory) {
  std::string absolute;
  if (path.empty() || path.front() != '/') {
    absolute.assign(workingDirectory);
    absolute.push_back('/');
  }
  absolute.append(path);

  std::vector<std::string_view> kept;
  const std::string_view all(absolute);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find('/', start);
    if (end == std::string_view::npos) end = all.size();
    const std::string_view part = all.substr(start, end - start);
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();  // at the root it stays at the root
    } else if (!part.empty() && part != ".") {
      kept.push_back(part);
    }
    start = end + 1;
  }
  if (kept.empty()) return "/";
  std::string result;
  for (const auto part : kept) {
    result.push_back('/');
    result.append(part);
  }
  return result;
}

std::string standardizedPath(std::string_view path) {
  return standardizedPath(FileURL::fileURLWithPath(path).path(), "/");
}

}  // namespace korvane
