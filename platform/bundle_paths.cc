#include "platform/bundle_paths.h"

#include "platform/path_string.h"

namespace korvane {

std::optional<std::string> appBundleOfExecutable(std::string_view executable) {
  if (executable.empty() || executable.back() == '/') return std::nullopt;
  const std::string macOS = deletingLastPathComponent(executable);
  if (lastPathComponent(macOS) != "MacOS") return std::nullopt;
  const std::string contents = deletingLastPathComponent(macOS);
  if (lastPathComponent(contents) != "Contents") return std::nullopt;
  std::string bundle = deletingLastPathComponent(contents);
  if (pathExtension(bundle) != "app") return std::nullopt;
  return bundle;
}

std::string mainBundlePathOfExecutable(std::string_view executable) {
  if (auto bundle = appBundleOfExecutable(executable)) return *bundle;
  return deletingLastPathComponent(executable);
}

std::string_view withoutDeletedMark(std::string_view linkTarget) {
  constexpr std::string_view kDeleted = " (deleted)";
  if (linkTarget.ends_with(kDeleted)) linkTarget.remove_suffix(kDeleted.size());
  return linkTarget;
}

}  // namespace korvane
