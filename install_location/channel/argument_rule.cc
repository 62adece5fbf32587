#include "install_location/channel/argument_rule.h"

namespace korvane {

const EncodableMap* argumentMap(const EncodableValue& arguments) {
  const EncodableMap* map = arguments.asMap();
  if (map == nullptr || map->empty()) return nullptr;
  for (const auto& [key, value] : *map) {
    if (key.asString() == nullptr) return nullptr;
  }
  return map;
}

std::optional<std::string> stringArgument(const EncodableValue& arguments, std::string_view key) {
  const EncodableMap* map = argumentMap(arguments);
  if (map == nullptr) return std::nullopt;
  const EncodableValue* value = map->find(key);
  if (value == nullptr) return std::nullopt;
  const std::string* text = value->asString();
  if (text == nullptr) return std::nullopt;
  return *text;
}

}  // namespace korvane
