#include "platform/embedding/standard_message_codec.h"

#include <utility>

namespace korvane {

std::vector<uint8_t> StandardMessageCodec::encodeMessage(const EncodableValue& value) const {
  std::vector<uint8_t> out;
  encodeMessageInto(value, out);
  return out;
}

void StandardMessageCodec::encodeMessageInto(const EncodableValue& value,
                                             std::vector<uint8_t>& out) const {
  ByteStreamWriter writer(out);
  serializer_->writeValue(value, writer);
}

DecodeResult<EncodableValue> StandardMessageCodec::decodeMessage(
    std::span<const uint8_t> bytes) const {
  using Result = DecodeResult<EncodableValue>;
  if (bytes.empty()) return Result(std::in_place_index<0>);
  ByteStreamReader reader(bytes);
  Result result(std::in_place_index<0>);
  CodecError error;
  if (!serializer_->readValue(reader, std::get<0>(result), error)) {
    return Result(std::in_place_index<1>, std::move(error));
  }
  if (!reader.atEnd()) {
    return Result(std::in_place_index<1>,
                  reader.error(CodecErrorKind::trailing, "bytes after the message"));
  }
  return result;
}

}  // namespace korvane
