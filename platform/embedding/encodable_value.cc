#include "platform/embedding/encodable_value.h"

namespace korvane {

EncodableMap::EncodableMap(std::initializer_list<Entry> entries) : entries_(entries) {}

const EncodableValue* EncodableMap::find(std::string_view key) const {
  for (const auto& [k, v] : entries_) {
    const std::string* s = k.asString();
    if (s != nullptr && *s == key) return &v;
  }
  return nullptr;
}

void EncodableMap::emplace(EncodableValue key, EncodableValue value) {
  entries_.emplace_back(std::move(key), std::move(value));
}

bool operator==(const EncodableMap& a, const EncodableMap& b) { return a.entries_ == b.entries_; }

std::optional<int64_t> EncodableValue::asInteger() const {
  if (const auto* v = std::get_if<int32_t>(this)) return *v;
  if (const auto* v = std::get_if<int64_t>(this)) return *v;
  return std::nullopt;
}

}  // namespace korvane
