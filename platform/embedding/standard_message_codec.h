// The standard message codec, wire-compatible with Flutter's.
//
// Thread: any. Codecs are immutable; one instance may be shared across threads.
//
// Decoding treats its input as hostile: every size is checked against the
// bytes that remain before anything is allocated or read, nesting deeper than
// kMaxNestingDepth is malformed, unknown type bytes and trailing bytes are
// errors. A decode never crashes and never allocates more than the input could
// describe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/embedding/codec_result.h"
#include "platform/embedding/encodable_value.h"

namespace korvane {

class ByteStreamReader;  // standard_codec_serializer.h
class ByteStreamWriter;

// Writes and reads values; subclass to add custom types (type bytes 128-255).
class StandardCodecSerializer {
 public:
  virtual ~StandardCodecSerializer() = default;
  static const StandardCodecSerializer& instance();

  void writeValue(const EncodableValue& value, ByteStreamWriter& out) const;
  // Reads one value; on failure returns false and fills `error`.
  bool readValue(ByteStreamReader& in, EncodableValue& out, CodecError& error) const;

 protected:
  // Custom types: called for a CustomEncodableValue; the default writes nothing
  // and returns false.
  virtual bool writeCustomValue(const CustomEncodableValue& value, ByteStreamWriter& out) const;
  // Called for a type byte the standard set does not know; the default reports
  // unknownType.
  virtual bool readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                               CodecError& error) const;
};

inline constexpr int kMaxNestingDepth = 128;

class StandardMessageCodec {
 public:
  explicit StandardMessageCodec(
      const StandardCodecSerializer& serializer = StandardCodecSerializer::instance())
      : serializer_(&serializer) {}

  std::vector<uint8_t> encodeMessage(const EncodableValue& value) const;
  // Appends the encoding to `out`; padding is counted from out's start.
  void encodeMessageInto(const EncodableValue& value, std::vector<uint8_t>& out) const;
  // An empty input decodes as null, as Flutter's C++ and Linux decoders do.
  DecodeResult<EncodableValue> decodeMessage(std::span<const uint8_t> bytes) const;

  const StandardCodecSerializer& serializer() const { return *serializer_; }

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace korvane
