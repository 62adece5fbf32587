// The values that cross a method channel: everything the standard message
// codec can carry. Thread: any (plain values, no shared state).
#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace korvane {

class EncodableValue;

// A list of values, in order.
using EncodableList = std::vector<EncodableValue>;

// A map that keeps its entries in the order they were added or decoded; keys
// may be any value (the wire allows it), so a string-keyed lookup is a helper,
// not the only way in. Duplicate keys are kept as decoded.
class EncodableMap {
 public:
  using Entry = std::pair<EncodableValue, EncodableValue>;

  EncodableMap() = default;
  EncodableMap(std::initializer_list<Entry> entries);

  // The value under the first entry whose key is the string `key`, or nullptr.
  const EncodableValue* find(std::string_view key) const;
  // Appends an entry (no check for an existing key).
  void emplace(EncodableValue key, EncodableValue value);
  // Appends an entry of two nulls to be filled in place, so that a decoder
  // builds each key and value where it stays instead of moving it there.
  Entry& appendEntry();
  void reserve(size_t n);

  size_t size() const;
  bool empty() const;
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }
  const std::vector<Entry>& entries() const { return entries_; }

  friend bool operator==(const EncodableMap& a, const EncodableMap& b);

 private:
  std::vector<Entry> entries_;
};

// A value of a custom codec extension (type bytes 128 to 255). Holds any C++
// value; compares equal only to itself.
class CustomEncodableValue {
 public:
  explicit CustomEncodableValue(std::any value) : value_(std::move(value)) {}
  const std::any& value() const { return value_; }
  friend bool operator==(const CustomEncodableValue& a, const CustomEncodableValue& b) {
    return &a == &b;
  }

 private:
  std::any value_;
};

using EncodableValueVariant =
    std::variant<std::monostate, bool, int32_t, int64_t, double, std::string, std::vector<uint8_t>,
                 std::vector<int32_t>, std::vector<int64_t>, std::vector<double>, EncodableList,
                 EncodableMap, CustomEncodableValue, std::vector<float>>;

// One codec value. std::monostate is null. Integers keep the width they were
// made or decoded with: int32_t is written as type 3 and int64_t as type 4.
// Code that holds 64-bit integers makes values with integer(), which picks the
// short form when the value fits, as the Dart, Linux and macOS encoders do.
class EncodableValue : public EncodableValueVariant {
 public:
  using EncodableValueVariant::EncodableValueVariant;
  using EncodableValueVariant::operator=;
  EncodableValue() = default;
  // Without this a string literal would become a bool.
  EncodableValue(const char* s) : EncodableValueVariant(std::string(s)) {}

  static EncodableValue integer(int64_t v) {
    if (v >= INT32_MIN && v <= INT32_MAX) return EncodableValue(static_cast<int32_t>(v));
    return EncodableValue(v);
  }

  bool isNull() const { return std::holds_alternative<std::monostate>(*this); }
  // The integer, of either width; nullopt for any other type.
  std::optional<int64_t> asInteger() const;
  const std::string* asString() const { return std::get_if<std::string>(this); }
  const bool* asBool() const { return std::get_if<bool>(this); }
  const EncodableMap* asMap() const { return std::get_if<EncodableMap>(this); }
  const EncodableList* asList() const { return std::get_if<EncodableList>(this); }

  const EncodableValueVariant& variant() const { return *this; }
};

// Defined here, where EncodableValue is complete (clang instantiates the
// vector members when they are defined inside EncodableMap).
inline EncodableMap::Entry& EncodableMap::appendEntry() { return entries_.emplace_back(); }
inline void EncodableMap::reserve(size_t n) { entries_.reserve(n); }
inline size_t EncodableMap::size() const { return entries_.size(); }
inline bool EncodableMap::empty() const { return entries_.empty(); }

}  // namespace korvane
