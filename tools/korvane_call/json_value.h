// Conversion between JSON (what korvane-call reads and prints) and the values
// that cross a method channel. Thread: any.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/embedding/encodable_value.h"

namespace korvane::tools {

// Objects keep their order, as channel maps do.
using Json = nlohmann::ordered_json;

// JSON to a channel value: null, booleans, strings; integers as integers
// (short form when they fit in 32 bits); other numbers as doubles; arrays as
// lists; objects as string-keyed maps. An integer beyond 64-bit signed range
// cannot be sent: nullopt, with `error` saying which.
std::optional<EncodableValue> valueFromJson(const Json& json, std::string& error);

// A channel value as JSON: typed lists become arrays; a map key that is not a
// string is written as its own JSON text ({1: true} becomes {"1": true}); NaN
// and infinities, which JSON lacks, become null; a custom value becomes null.
Json jsonFromValue(const EncodableValue& value);

}  // namespace korvane::tools
