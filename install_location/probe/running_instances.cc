#include "install_location/probe/running_instances.h"

#include "platform/path_string.h"
#include "platform/process.h"

namespace korvane::InstallLocationProbe {

std::optional<RunningApplication> runningAppAtPath(const PlatformServices& services,
                                                   const std::string& path) {
  const std::optional<std::string> myBundleId = services.bundles.mainBundle().bundleIdentifier();
  if (!myBundleId) return std::nullopt;
  const std::string target = standardizedPath(path);  // relative: against the working folder
  const int32_t self = currentProcessIdentifier();
  for (RunningApplication& app : services.workspace.runningApplications()) {
    if (app.processIdentifier == self) continue;
    if (!app.bundleURL) continue;
    if (standardizedPath(app.bundleURL->path()) != target) continue;
    if (!app.bundleIdentifier || *app.bundleIdentifier != *myBundleId) continue;
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
