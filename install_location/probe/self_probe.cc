#include "install_location/probe/self_probe.h"

#include "platform/path_string.h"

namespace korvane::InstallLocationProbe {
namespace {

bool isDevBuildPath(const std::string& path) {
  return path.find("/DerivedData/") != std::string::npos ||
         path.find("/Build/Products/") != std::string::npos;
}

}  // namespace

bool isDevBuild(const PlatformServices& services) {
  return isDevBuildPath(services.bundles.mainBundle().path);
}

bool bundleResolves(const PlatformServices& services, const std::string& bundlePath) {
  if (pathExtension(bundlePath) != "app") return false;
  return services.fileSystem.fileExists(appendingPathComponent(bundlePath, "Contents/Info.plist"));
}

bool isNested(const std::string& bundlePath) {
  std::string current = deletingLastPathComponent(bundlePath);
  for (;;) {
    if (current == "/" || current.empty()) return false;
    if (pathExtension(current) == "app") return true;
    std::string parent = deletingLastPathComponent(current);
    if (parent == current) return false;
    current = std::move(parent);
  }
}

ResultMap probeMap(const PlatformServices& services) {
  const std::string path = services.bundles.mainBundle().path;
  ResultMap map;
  map.reserve(5);
  map.emplace("isDevBuild", isDevBuildPath(path));
  map.emplace("bundleResolves", bundleResolves(services, path));
  map.emplace("isNested", isNested(path));
  map.emplace("isReadOnlyVolume", services.fileSystem.isOnReadOnlyVolume(path).value_or(false));
  map.emplace("isTranslocated", false);
  return map;
}

}  // namespace korvane::InstallLocationProbe
