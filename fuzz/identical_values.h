// Value identity for the decoder's round trips: same alternative (so an int32 never equals
// an int64), floats compared by their bits (NaN equals the same NaN, -0.0 is
// not 0.0), maps in order. operator== cannot serve: it compares floats by
// value and custom values by address.
//
// Thread: any.
#pragma once

#include <any>
#include <functional>

#include "platform/embedding/encodable_value.h"

namespace korvane::testing {

using CustomValuesEqual =
    std::function<bool(const CustomEncodableValue&, const CustomEncodableValue&)>;

// With no `customEqual`, custom values are identical only to themselves.
bool identicalValues(const EncodableValue& a, const EncodableValue& b,
                     const CustomValuesEqual& customEqual = {});

// Custom values holding equal objects of one of the types Ts.
template <class... Ts>
bool sameCustomValues(const CustomEncodableValue& a, const CustomEncodableValue& b) {
  auto same = [&]<class T>() {
    const T* x = std::any_cast<T>(&a.value());
    const T* y = std::any_cast<T>(&b.value());
    return x != nullptr && y != nullptr && *x == *y;
  };
  return (same.template operator()<Ts>() || ...);
}

}  // namespace korvane::testing
