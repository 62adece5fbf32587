#include "install_location/copies/installed_copies.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "install_location/probe/bundle_facts.h"
#include "install_location/probe/running_instances.h"
#include "platform/path_string.h"

namespace korvane::InstallLocationProbe {
namespace {

constexpr std::string_view kStagingPrefix = ".flc-move.";
constexpr std::string_view kBundleSuffix = ".app";

// Sets `key` in `map`, replacing an earlier entry with the same key.
void setEntry(EncodableMap& map, const std::string& key, std::string value) {
  EncodableMap rebuilt;
  bool replaced = false;
  for (const auto& [k, v] : map) {
    if (const std::string* s = k.asString(); s != nullptr && *s == key) {
      rebuilt.emplace(k, value);
      replaced = true;
    } else {
      rebuilt.emplace(k, v);
    }
  }
  if (!replaced) rebuilt.emplace(key, std::move(value));
  map = std::move(rebuilt);
}

}  // namespace

ResultMap scanInstalledCopies(const PlatformServices& services,
                              const std::vector<std::string>& runningSiblingPaths) {
  const std::string canonicalName = canonicalBundleDirName(services);
  const std::string myBundleId = services.bundles.mainBundle().bundleIdentifier().value_or("");
  const std::string systemFolder = services.applicationFolders.systemFolder();
  std::vector<std::string> folders{systemFolder};
  if (auto user = services.applicationFolders.userFolder()) folders.push_back(std::move(*user));

  // Each distinct sibling path, with the item it names, to match a copy
  // reached under another spelling of its folder (the system reports running
  // bundles with links resolved). One lookup per distinct sibling.
  std::unordered_map<std::string, std::optional<FileIdentity>> siblingItems;
  for (const std::string& sibling : runningSiblingPaths) {
    if (!siblingItems.contains(sibling)) {
      siblingItems.emplace(sibling, itemIdentity(services.fileSystem, sibling));
    }
  }
  const auto isSiblingItem = [&siblingItems](const std::optional<FileIdentity>& identity) {
    return identity && std::any_of(siblingItems.begin(), siblingItems.end(),
                                   [&](const auto& item) { return item.second == identity; });
  };
  std::unordered_set<std::string> listedPaths;  // standardized paths of the candidates
  std::vector<FileIdentity> listedItems;        // and the items they name
  EncodableMap dirErrors;
  EncodableList candidates;
  EncodableList staleTemps;

  for (const std::string& folder : folders) {
    DirectoryListing listing = services.fileSystem.contentsOfDirectory(folder);
    if (!listing.names) {
      if (services.fileSystem.fileExists(folder)) {
        setEntry(dirErrors, folder, listing.error.description);
      }
      continue;
    }
    const std::vector<std::string>& names = *listing.names;
    const bool typesListed = listing.types.size() == names.size();
    for (size_t entry = 0; entry < names.size(); ++entry) {
      const std::string& name = names[entry];
      if (name.starts_with(kStagingPrefix)) {
        staleTemps.emplace_back(appendingPathComponent(folder, name));
        continue;
      }
      if (!name.ends_with(kBundleSuffix)) continue;
      std::string path = appendingPathComponent(folder, name);
      // The entry's own attributes: its type as the listing gave it, else
      // read; its identity only when a sibling may run from it.
      std::optional<AttributesResult> attributes;
      const auto readAttributes = [&]() -> const std::optional<ItemAttributes>& {
        if (!attributes) attributes = services.fileSystem.attributesOfItem(path);
        return attributes->attributes;
      };
      std::optional<FileType> type = typesListed ? listing.types[entry] : std::nullopt;
      if (!type && readAttributes()) type = readAttributes()->type;
      if (type == FileType::symbolicLink) continue;
      // An item whose own type is known and that is no link exists:
      // following links would find the same item, so only an item whose
      // type could not be had needs the existence test.
      if (!type && !services.fileSystem.fileExists(path)) continue;
      const std::optional<PropertyListStrings> info = services.bundles.infoStrings(path);
      if (!info) continue;
      const auto id = info->find("CFBundleIdentifier");
      if (id == info->end() || id->second != myBundleId) continue;

      bool running = false;
      if (!siblingItems.empty()) {  // with no sibling, nothing is running
        std::string standardized = standardizedPath(path);
        const std::optional<FileIdentity> identity =
            readAttributes() ? readAttributes()->identity : std::nullopt;
        running = siblingItems.contains(standardized) || isSiblingItem(identity);
        listedPaths.insert(std::move(standardized));
        if (identity) listedItems.push_back(*identity);
      }
      EncodableMap candidate;
      candidate.reserve(6);
      candidate.emplace("path", std::move(path));
      candidate.emplace("identity", "sameBundle");
      candidate.emplace("build", EncodableValue::integer(buildFromInfo(info)));
      candidate.emplace("running", running);
      candidate.emplace("underApplications", folder == systemFolder);
      candidate.emplace("isCanonicalName", name == canonicalName);
      candidates.emplace_back(std::move(candidate));
    }
  }

  bool otherInstanceRunning = false;
  for (const std::string& sibling : runningSiblingPaths) {
    if (listedPaths.count(sibling) > 0) continue;
    const std::optional<FileIdentity>& item = siblingItems.at(sibling);
    if (item && std::find(listedItems.begin(), listedItems.end(), *item) != listedItems.end()) {
      continue;
    }
    otherInstanceRunning = true;
    break;
  }

  ResultMap map;
  map.reserve(5);
  map.emplace("status", dirErrors.empty() ? "ok" : "partial");
  map.emplace("dirErrors", std::move(dirErrors));
  map.emplace("candidates", std::move(candidates));
  map.emplace("staleTemps", std::move(staleTemps));
  map.emplace("otherInstanceRunning", otherInstanceRunning);
  return map;
}

}  // namespace korvane::InstallLocationProbe
