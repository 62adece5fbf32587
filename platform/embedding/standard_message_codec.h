// The standard message codec, wire-compatible with Flutter's.
//
// Thread: any. Codecs are immutable; one instance may be shared across threads.
//
// Decoding treats its input as hostile: every size is checked against the
// bytes that remain before anything is allocated or read, nesting deeper than
// kMaxNestingDepth is malformed, unknown type bytes and trailing bytes are
// errors, strings must be valid UTF-8. A decode never crashes and allocates in
// proportion to its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/embedding/codec_result.h"
#include "platform/embedding/encodable_value.h"
#include "platform/embedding/standard_codec_serializer.h"

namespace korvane {

class StandardMessageCodec {
 public:
  // The serializer must outlive the codec.
  explicit StandardMessageCodec(
      const StandardCodecSerializer& serializer = StandardCodecSerializer::instance())
      : serializer_(&serializer) {}

  std::vector<uint8_t> encodeMessage(const EncodableValue& value) const;
  // Appends the encoding to `out`; padding is counted from out's start.
  void encodeMessageInto(const EncodableValue& value, std::vector<uint8_t>& out) const;
  // An empty input decodes as null, as Flutter's C++ and Linux decoders do.
  // Bytes after the value are an error (trailing).
  DecodeResult<EncodableValue> decodeMessage(std::span<const uint8_t> bytes) const;

  const StandardCodecSerializer& serializer() const { return *serializer_; }

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace korvane
