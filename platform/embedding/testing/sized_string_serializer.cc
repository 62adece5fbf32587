#include "platform/embedding/testing/sized_string_serializer.h"

#include "platform/embedding/utf8.h"

namespace korvane::testing {

const SizedStringSerializer& SizedStringSerializer::instance() {
  static const SizedStringSerializer serializer;
  return serializer;
}

bool SizedStringSerializer::writeCustomValue(const CustomEncodableValue& value,
                                             ByteStreamWriter& out) const {
  const auto* sized = std::any_cast<SizedString>(&value.value());
  if (sized == nullptr) return false;
  out.writeByte(kType);
  out.writeSize(sized->text.size());
  out.writeBytes(sized->text.data(), sized->text.size());
  return true;
}

bool SizedStringSerializer::readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                                            CodecError& error) const {
  if (type != kType) return StandardCodecSerializer::readValueOfType(type, in, out, error);
  uint32_t size = 0;
  std::span<const uint8_t> bytes;
  if (!in.readSize(size) || !in.readView(size, bytes)) {
    error = in.error(CodecErrorKind::truncated, "sized string cut off");
    return false;
  }
  if (!isValidUtf8(bytes)) {
    error = in.error(CodecErrorKind::malformed, "sized string not UTF-8");
    return false;
  }
  out.emplace<CustomEncodableValue>(
      SizedString{std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size())});
  return true;
}

}  // namespace korvane::testing
