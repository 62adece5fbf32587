// A test extension with a fixed-size payload, as in Flutter's codec tests:
// type 128, then x and y as raw 32-bit integers (no inner type bytes).
// Thread: any.
#pragma once

#include "platform/embedding/standard_codec_serializer.h"

namespace korvane::testing {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

class PointSerializer : public StandardCodecSerializer {
 public:
  static constexpr uint8_t kType = 128;
  static const PointSerializer& instance();

 protected:
  bool writeCustomValue(const CustomEncodableValue& value, ByteStreamWriter& out) const override;
  bool readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                       CodecError& error) const override;
};

}  // namespace korvane::testing
