#include "fuzz/identical_values.h"

#include <algorithm>

#include "platform/embedding/standard_message_codec.h"

namespace korvane::testing {

bool identicalValues(const EncodableValue& a, const EncodableValue& b,
                     const CustomValuesEqual& customEqual) {
  auto same = [&](const EncodableValue& x, const EncodableValue& y) {
    return identicalValues(x, y, customEqual);
  };
  if (a.index() != b.index()) return false;
  if (const auto* x = std::get_if<CustomEncodableValue>(&a)) {
    const auto& y = std::get<CustomEncodableValue>(b);
    return customEqual ? customEqual(*x, y) : x == &y;
  }
  if (const auto* x = std::get_if<EncodableList>(&a)) {
    return std::ranges::equal(*x, std::get<EncodableList>(b), same);
  }
  if (const auto* x = std::get_if<EncodableMap>(&a)) {
    return std::ranges::equal(*x, std::get<EncodableMap>(b), [&](const auto& p, const auto& q) {
      return same(p.first, q.first) && same(p.second, q.second);
    });
  }
  // The codec writes every other alternative bit for bit, floats included.
  return StandardMessageCodec().encodeMessage(a) == StandardMessageCodec().encodeMessage(b);
}

}  // namespace korvane::testing
