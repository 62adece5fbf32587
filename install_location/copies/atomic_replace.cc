#include "install_location/copies/atomic_replace.h"

#include <optional>

#include "platform/path_string.h"

namespace korvane::InstallLocationProbe {
namespace {

// The file-type text of an item's attributes; "?" when they carry no type.
std::string typeText(const ItemAttributes& attributes) {
  return attributes.type ? std::string(fileTypeText(*attributes.type)) : std::string("?");
}

}  // namespace

ResultMap atomicReplace(const PlatformServices& services, const std::string& temp,
                        const std::string& dest) {
  // The operation's single exit: logs every outcome that carries an error.
  auto out = [&services](std::string status, std::optional<std::string> error,
                         std::optional<std::string> resultingPath) {
    ResultMap map;
    map.reserve(2);
    map.emplace("status", status);
    if (error) {
      services.logger.log("[install-location] atomicReplace " + status + ": " + *error);
      map.emplace("error", std::move(*error));
    }
    if (resultingPath) map.emplace("resultingPath", std::move(*resultingPath));
    return map;
  };

  if (deletingLastPathComponent(temp) != deletingLastPathComponent(dest)) {
    return out("refused", "temp/dest not same-parent (temp=" + temp + " dest=" + dest + ")",
               std::nullopt);
  }
  const AttributesResult tempAttributes = services.fileSystem.attributesOfItem(temp);
  if (!tempAttributes.attributes) {
    return out("failed", "temp missing at commit: " + temp, std::nullopt);
  }
  if (tempAttributes.attributes->type != FileType::directory) {
    return out("refused",
               "temp is not a directory (type=" + typeText(*tempAttributes.attributes) + ")",
               std::nullopt);
  }
  const AttributesResult destAttributes = services.fileSystem.attributesOfItem(dest);
  if (destAttributes.attributes) {
    return out("refused",
               "dest already exists (type=" + typeText(*destAttributes.attributes) +
                   "); no-clobber, refusing",
               std::nullopt);
  }
  if (auto failure = services.fileSystem.moveItemWithoutReplacing(temp, dest)) {
    return out("failed", "moveItem failed: " + failure->description, std::nullopt);
  }
  return out("committed", std::nullopt, dest);
}

}  // namespace korvane::InstallLocationProbe
