#include "platform/bundles.h"

namespace korvane {

std::optional<std::string> MainBundle::infoValue(const std::string& key) const {
  if (!info) return std::nullopt;
  auto it = info->find(key);
  if (it == info->end()) return std::nullopt;
  return it->second;
}

}  // namespace korvane
