#include "install_location/probe/running_instances.h"

#include "platform/path_string.h"
#include "platform/process.h"

namespace korvane::InstallLocationProbe {

std::optional<FileIdentity> itemIdentity(FileSystem& fileSystem, const std::string& path) {
  AttributesResult result = fileSystem.attributesOfItem(path);
  if (!result.attributes) return std::nullopt;
  return result.attributes->identity;
}

std::optional<RunningApplication> runningAppAtPath(const PlatformServices& services,
                                                   const std::string& path) {
  const std::optional<std::string> myBundleId = services.bundles.mainBundle().bundleIdentifier();
  if (!myBundleId) return std::nullopt;
  const std::string target = standardizedPath(path);  // relative: against the working folder
  const int32_t self = currentProcessIdentifier();
  // Looked up once, and only when an instance's path is spelled differently.
  std::optional<std::optional<FileIdentity>> targetIdentity;
  for (RunningApplication& app : services.workspace.runningApplications()) {
    if (app.processIdentifier == self) continue;
    if (!app.bundleURL) continue;
    // The identifier before the path: both must hold, and this test is free.
    if (!app.bundleIdentifier || *app.bundleIdentifier != *myBundleId) continue;
    const std::string bundle = standardizedPath(app.bundleURL->path());
    if (bundle != target) {
      if (!targetIdentity) targetIdentity = itemIdentity(services.fileSystem, target);
      if (!*targetIdentity || itemIdentity(services.fileSystem, bundle) != *targetIdentity) {
        continue;
      }
    }
    return std::move(app);
  }
  return std::nullopt;
}

std::vector<std::string> runningSiblingPaths(const PlatformServices& services) {
  const std::optional<std::string> myBundleId = services.bundles.mainBundle().bundleIdentifier();
  const int32_t self = currentProcessIdentifier();
  std::vector<std::string> paths;
  for (const RunningApplication& app : services.workspace.runningApplications()) {
    if (app.bundleIdentifier != myBundleId) continue;
    if (app.processIdentifier == self) continue;
    if (!app.bundleURL) continue;
    paths.push_back(standardizedPath(app.bundleURL->path()));
  }
  return paths;
}

}  // namespace korvane::InstallLocationProbe
