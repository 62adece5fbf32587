// Writes and reads the values of the standard message codec; subclass it to
// add custom types (type bytes 128-255), as Flutter's codec extensions do.
//
// Thread: any. A serializer holds no state; one instance may be shared.
//
// An extension overrides writeCustomValue and readValueOfType. Inside them it
// uses the stream primitives (byte_stream.h) for raw data and writeValue /
// readValue for nested standard values, so the nesting bound and the input
// checks hold for custom payloads too.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/embedding/byte_stream.h"
#include "platform/embedding/codec_result.h"
#include "platform/embedding/encodable_value.h"

namespace korvane {

// How many containers (lists, maps, custom values) may enclose a value in a
// decoded message; deeper nesting is malformed.
inline constexpr int kMaxNestingDepth = 128;

class StandardCodecSerializer {
 public:
  StandardCodecSerializer() = default;
  virtual ~StandardCodecSerializer() = default;
  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  static const StandardCodecSerializer& instance();

  // Writes one value: its type byte and data. A custom value that
  // writeCustomValue does not handle is written as null, so the message stays
  // well-formed (a programming error: the codec lacks its extension).
  void writeValue(const EncodableValue& value, ByteStreamWriter& out) const;
  // Writes a string value (type 7) without making an EncodableValue of it.
  void writeString(std::string_view s, ByteStreamWriter& out) const;

  // Reads one value into `out`. On failure returns false, fills `error` and
  // leaves `out` unspecified.
  bool readValue(ByteStreamReader& in, EncodableValue& out, CodecError& error) const;

 protected:
  // Writes a CustomEncodableValue: its type byte (128-255) and payload.
  // Returns false, writing nothing, for a value it does not know. The default
  // knows none.
  virtual bool writeCustomValue(const CustomEncodableValue& value, ByteStreamWriter& out) const;
  // Reads the payload of a type byte the standard set does not know (the type
  // byte is already consumed). Returns false and fills `error` on failure; the
  // default reports unknownType.
  virtual bool readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                               CodecError& error) const;

 private:
  bool readString(ByteStreamReader& in, EncodableValue& out, CodecError& error) const;
  bool readList(ByteStreamReader& in, EncodableValue& out, CodecError& error) const;
  bool readMap(ByteStreamReader& in, EncodableValue& out, CodecError& error) const;
  template <class T>
  bool readTypedList(ByteStreamReader& in, EncodableValue& out, CodecError& error) const;
};

}  // namespace korvane
