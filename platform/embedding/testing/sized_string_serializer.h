// A test extension as in the Linux embedder's codec tests: type 128, then a
// size prefix and the UTF-8 bytes of the string. Thread: any.
#pragma once

#include <string>

#include "platform/embedding/standard_codec_serializer.h"

namespace korvane::testing {

struct SizedString {
  std::string text;
  friend bool operator==(const SizedString&, const SizedString&) = default;
};

class SizedStringSerializer : public StandardCodecSerializer {
 public:
  static constexpr uint8_t kType = 128;
  static const SizedStringSerializer& instance();

 protected:
  bool writeCustomValue(const CustomEncodableValue& value, ByteStreamWriter& out) const override;
  bool readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                       CodecError& error) const override;
};

}  // namespace korvane::testing
