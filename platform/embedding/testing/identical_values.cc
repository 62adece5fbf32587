#include "platform/embedding/testing/identical_values.h"

#include <bit>
#include <cinttypes>
#include <cstdio>

namespace korvane::testing {

namespace {

bool sameBits(double a, double b) {
  return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}
bool sameBits(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

template <class T>
bool sameFloats(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!sameBits(a[i], b[i])) return false;
  }
  return true;
}

std::string hexBits(uint64_t bits) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, bits);
  return text;
}

}  // namespace

bool identicalValues(const EncodableValue& a, const EncodableValue& b,
                     const CustomValuesEqual& customEqual) {
  if (a.index() != b.index()) return false;
  if (const auto* x = std::get_if<double>(&a)) return sameBits(*x, std::get<double>(b));
  if (const auto* x = std::get_if<std::vector<double>>(&a)) {
    return sameFloats(*x, std::get<std::vector<double>>(b));
  }
  if (const auto* x = std::get_if<std::vector<float>>(&a)) {
    return sameFloats(*x, std::get<std::vector<float>>(b));
  }
  if (const auto* x = std::get_if<EncodableList>(&a)) {
    const auto& y = std::get<EncodableList>(b);
    if (x->size() != y.size()) return false;
    for (size_t i = 0; i < x->size(); ++i) {
      if (!identicalValues((*x)[i], y[i], customEqual)) return false;
    }
    return true;
  }
  if (const auto* x = std::get_if<EncodableMap>(&a)) {
    const auto& y = std::get<EncodableMap>(b);
    if (x->size() != y.size()) return false;
    for (size_t i = 0; i < x->size(); ++i) {
      const auto& [xk, xv] = x->entries()[i];
      const auto& [yk, yv] = y.entries()[i];
      if (!identicalValues(xk, yk, customEqual) || !identicalValues(xv, yv, customEqual)) {
        return false;
      }
    }
    return true;
  }
  if (const auto* x = std::get_if<CustomEncodableValue>(&a)) {
    const auto& y = std::get<CustomEncodableValue>(b);
    return customEqual ? customEqual(*x, y) : x == &y;
  }
  // The remaining alternatives compare exactly with ==.
  return a.variant() == b.variant();
}

std::string describeValue(const EncodableValue& value) {
  auto join = [](const auto& items, auto describe) {
    std::string out = "[";
    bool first = true;
    for (const auto& item : items) {
      if (!first) out += ", ";
      first = false;
      out += describe(item);
    }
    return out + "]";
  };
  auto number = [](auto v) { return std::to_string(v); };
  return std::visit(
      [&](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, int32_t>) {
          return "int32 " + std::to_string(v);
        } else if constexpr (std::is_same_v<T, int64_t>) {
          return "int64 " + std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return "float64 " + hexBits(std::bit_cast<uint64_t>(v)) + " (" + std::to_string(v) + ")";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return "string \"" + v + "\"";
        } else if constexpr (std::is_same_v<T, std::vector<uint8_t>>) {
          return "uint8list" + join(v, [](uint8_t b) { return std::to_string(b); });
        } else if constexpr (std::is_same_v<T, std::vector<int32_t>>) {
          return "int32list" + join(v, number);
        } else if constexpr (std::is_same_v<T, std::vector<int64_t>>) {
          return "int64list" + join(v, number);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          return "float64list" +
                 join(v, [](double d) { return hexBits(std::bit_cast<uint64_t>(d)); });
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          return "float32list" +
                 join(v, [](float f) { return hexBits(std::bit_cast<uint32_t>(f)); });
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          return "list" + join(v, [](const EncodableValue& e) { return describeValue(e); });
        } else if constexpr (std::is_same_v<T, EncodableMap>) {
          return "map" + join(v, [](const EncodableMap::Entry& e) {
                   return describeValue(e.first) + ": " + describeValue(e.second);
                 });
        } else {
          return std::string("custom ") + v.value().type().name();
        }
      },
      value.variant());
}

}  // namespace korvane::testing
