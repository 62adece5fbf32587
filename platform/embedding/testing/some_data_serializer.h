// A test extension with a variable-size payload, as in Flutter's codec tests:
// type 129, then a size-prefixed run of raw bytes, then the label as a full
// string value. Thread: any.
#pragma once

#include <string>
#include <vector>

#include "platform/embedding/standard_codec_serializer.h"

namespace korvane::testing {

struct SomeData {
  std::string label;
  std::vector<uint8_t> data;
  friend bool operator==(const SomeData&, const SomeData&) = default;
};

class SomeDataSerializer : public StandardCodecSerializer {
 public:
  static constexpr uint8_t kType = 129;
  static const SomeDataSerializer& instance();

 protected:
  bool writeCustomValue(const CustomEncodableValue& value, ByteStreamWriter& out) const override;
  bool readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                       CodecError& error) const override;
};

}  // namespace korvane::testing
