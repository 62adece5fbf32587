// The standard method codec: method calls and reply envelopes.
//
// Thread: any. Same hostile-input rules as the message codec.
#pragma once

#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "platform/embedding/codec_result.h"
#include "platform/embedding/method_call.h"
#include "platform/embedding/method_result.h"
#include "platform/embedding/standard_message_codec.h"

namespace korvane {

struct EnvelopeOptions {
  // An empty reply is the not-implemented reply (channel view); when false it
  // is a truncated envelope (codec view).
  bool emptyReplyIsNotImplemented = true;
  // Accept a fourth value (stack trace, string or null) in an error envelope.
  bool allowStacktrace = true;
};

// A decoded reply: success value, error, or not implemented. A stack trace
// sent with an error is checked (string or null) and dropped.
using MethodEnvelope = FlutterResultValue;

class StandardMethodCodec {
 public:
  // The serializer must outlive the codec.
  explicit StandardMethodCodec(
      const StandardCodecSerializer& serializer = StandardCodecSerializer::instance())
      : messageCodec_(serializer) {}

  static const StandardMethodCodec& instance();

  std::vector<uint8_t> encodeMethodCall(const FlutterMethodCall& call) const;
  // The method name must be a string; the arguments value must follow.
  DecodeResult<FlutterMethodCall> decodeMethodCall(std::span<const uint8_t> bytes) const;

  std::vector<uint8_t> encodeSuccessEnvelope(const EncodableValue& result) const;
  // A message of nullopt is written as null.
  std::vector<uint8_t> encodeErrorEnvelope(const FlutterError& error) const;
  // Not implemented encodes as no bytes at all.
  std::vector<uint8_t> encodeResult(const FlutterResultValue& value) const;

  // Success: 0 and a value. Error: 1, a string code, a string-or-null
  // message, details, and (with allowStacktrace) an optional string-or-null
  // stack trace. Any other first byte is malformed; bytes after the last value
  // are trailing.
  DecodeResult<MethodEnvelope> decodeEnvelope(std::span<const uint8_t> bytes,
                                              EnvelopeOptions options = {}) const;

  const StandardMessageCodec& messageCodec() const { return messageCodec_; }

 private:
  StandardMessageCodec messageCodec_;
};

}  // namespace korvane
