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
  static const SomeDataSerializer& instance() {
    static const SomeDataSerializer serializer;
    return serializer;
  }

 protected:
  bool writeCustomValue(const CustomEncodableValue& value, ByteStreamWriter& out) const override {
    const auto* someData = std::any_cast<SomeData>(&value.value());
    if (someData == nullptr) return false;
    out.writeByte(kType);
    out.writeSize(someData->data.size());
    out.writeBytes(someData->data.data(), someData->data.size());
    writeString(someData->label, out);
    return true;
  }
  bool readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                       CodecError& error) const override {
    if (type != kType) return StandardCodecSerializer::readValueOfType(type, in, out, error);
    uint32_t size = 0;
    std::span<const uint8_t> data;
    EncodableValue label;
    const bool cutOff = !in.readSize(size) || !in.readView(size, data);
    if (cutOff) error = in.error(CodecErrorKind::truncated, "data cut off");
    if (!cutOff && readValue(in, label, error) && label.asString() == nullptr) {
      error = in.error(CodecErrorKind::malformed, "label is not a string");
    }
    if (label.asString() == nullptr) return false;
    out.emplace<CustomEncodableValue>(SomeData{*label.asString(), {data.begin(), data.end()}});
    return true;
  }
};

}  // namespace korvane::testing
