#include "tools/korvane_call/host_discovery.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/linux/engine/interface_socket_file.h"

namespace korvane::tools {

std::vector<std::string> liveInterfaceSockets(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("interface-") || !name.ends_with(".sock")) continue;
    struct stat info {};
    const std::string path = entry.path().string();
    if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) continue;
    if (interfaceSocketIsLive(path)) found.push_back(path);
  }
  std::sort(found.begin(), found.end());
  return found;
}

HostDiscovery findInterfaceSocket(const InterfaceAddressInputs& inputs) {
  if (inputs.environment && !inputs.environment->empty()) return {*inputs.environment, {}};
  std::vector<std::string> found;
  std::string looked;
  for (const std::string& folder : defaultInterfaceSocketFolders(inputs)) {
    looked += (looked.empty() ? "" : ", ") + folder;
    std::string unsafe;
    if (checkInterfaceSocketFolder(folder, inputs.uid, unsafe)) continue;
    for (std::string& path : liveInterfaceSockets(folder)) found.push_back(std::move(path));
  }
  if (found.size() == 1) return {found[0], {}};
  if (found.empty()) {
    return {{},
            "no running host found (looked in " + looked +
                "); start korvane, or name its socket with --socket PATH"};
  }
  std::string error = "several running hosts found; choose one with --socket PATH:";
  for (const std::string& path : found) error += "\n  " + path;
  return {{}, error};
}

}  // namespace korvane::tools
