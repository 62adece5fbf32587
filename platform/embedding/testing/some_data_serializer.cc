#include "platform/embedding/testing/some_data_serializer.h"

namespace korvane::testing {

const SomeDataSerializer& SomeDataSerializer::instance() {
  static const SomeDataSerializer serializer;
  return serializer;
}

bool SomeDataSerializer::writeCustomValue(const CustomEncodableValue& value,
                                          ByteStreamWriter& out) const {
  const auto* someData = std::any_cast<SomeData>(&value.value());
  if (someData == nullptr) return false;
  out.writeByte(kType);
  out.writeSize(someData->data.size());
  out.writeBytes(someData->data.data(), someData->data.size());
  writeString(someData->label, out);
  return true;
}

bool SomeDataSerializer::readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                                         CodecError& error) const {
  if (type != kType) return StandardCodecSerializer::readValueOfType(type, in, out, error);
  SomeData someData;
  uint32_t size = 0;
  std::span<const uint8_t> bytes;
  if (!in.readSize(size) || !in.readView(size, bytes)) {
    error = in.error(CodecErrorKind::truncated, "data cut off");
    return false;
  }
  someData.data.assign(bytes.begin(), bytes.end());
  EncodableValue label;
  if (!readValue(in, label, error)) return false;
  if (label.asString() == nullptr) {
    error = in.error(CodecErrorKind::malformed, "label is not a string");
    return false;
  }
  someData.label = std::move(*std::get_if<std::string>(&label));
  out.emplace<CustomEncodableValue>(std::move(someData));
  return true;
}

}  // namespace korvane::testing
