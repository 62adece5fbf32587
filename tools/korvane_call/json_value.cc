#include "tools/korvane_call/json_value.h"

#include <cstdint>
#include <limits>

namespace korvane::tools {
namespace {

template <class T>
Json arrayOf(const std::vector<T>& items) {
  Json array = Json::array();
  for (const T& item : items) array.push_back(item);
  return array;
}

std::string keyText(const EncodableValue& key) {
  if (const std::string* text = key.asString()) return *text;
  return jsonFromValue(key).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::optional<EncodableValue> valueFromJson(const Json& json, std::string& error) {
  switch (json.type()) {
    case Json::value_t::null:
    case Json::value_t::discarded:
      return EncodableValue();
    case Json::value_t::boolean:
      return EncodableValue(json.get<bool>());
    case Json::value_t::number_integer:
      return EncodableValue::integer(json.get<int64_t>());
    case Json::value_t::number_unsigned: {
      const uint64_t value = json.get<uint64_t>();
      if (value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        error =
            "integer " + std::to_string(value) + " is beyond the 64-bit range of a channel value";
        return std::nullopt;
      }
      return EncodableValue::integer(static_cast<int64_t>(value));
    }
    case Json::value_t::number_float:
      return EncodableValue(json.get<double>());
    case Json::value_t::string:
      return EncodableValue(json.get<std::string>());
    case Json::value_t::binary:
      return EncodableValue(
          std::vector<uint8_t>(json.get_binary().begin(), json.get_binary().end()));
    case Json::value_t::array: {
      EncodableList list;
      list.reserve(json.size());
      for (const Json& item : json) {
        auto value = valueFromJson(item, error);
        if (!value) return std::nullopt;
        list.push_back(std::move(*value));
      }
      return EncodableValue(std::move(list));
    }
    case Json::value_t::object: {
      EncodableMap map;
      map.reserve(json.size());
      for (const auto& [key, item] : json.items()) {
        auto value = valueFromJson(item, error);
        if (!value) return std::nullopt;
        map.emplace(EncodableValue(key), std::move(*value));
      }
      return EncodableValue(std::move(map));
    }
  }
  return EncodableValue();
}

Json jsonFromValue(const EncodableValue& value) {
  return std::visit(
      [](const auto& held) -> Json {
        using T = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<T, std::monostate> ||
                      std::is_same_v<T, CustomEncodableValue>) {
          return nullptr;
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          Json array = Json::array();
          for (const EncodableValue& item : held) array.push_back(jsonFromValue(item));
          return array;
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          Json object = Json::object();
          for (const auto& [key, item] : held) object[keyText(key)] = jsonFromValue(item);
          return object;
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>> ||
                             std::is_same_v<T, std::vector<int32_t>> ||
                             std::is_same_v<T, std::vector<int64_t>> ||
                             std::is_same_v<T, std::vector<double>> ||
                             std::is_same_v<T, std::vector<float>>) {
          return arrayOf(held);
        } else {
          return held;  // bool, integers, double, string
        }
      },
      value.variant());
}

}  // namespace korvane::tools
