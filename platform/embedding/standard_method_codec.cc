#include "platform/embedding/standard_method_codec.h"

#include <utility>

namespace korvane {

namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

template <class T>
DecodeResult<T> failure(CodecError error) {
  return DecodeResult<T>(std::in_place_index<1>, std::move(error));
}

// The string `value` holds, or nullptr when it holds something else.
std::string* stringIn(EncodableValue& value) { return std::get_if<std::string>(&value); }

}  // namespace

const StandardMethodCodec& StandardMethodCodec::instance() {
  static const StandardMethodCodec codec;
  return codec;
}

std::vector<uint8_t> StandardMethodCodec::encodeMethodCall(const FlutterMethodCall& call) const {
  std::vector<uint8_t> out;
  {
    ByteStreamWriter writer(out);  // trims its spare room when it goes
    const StandardCodecSerializer& serializer = messageCodec_.serializer();
    serializer.writeString(call.method, writer);
    serializer.writeValue(call.arguments, writer);
  }
  return out;
}

DecodeResult<FlutterMethodCall> StandardMethodCodec::decodeMethodCall(
    std::span<const uint8_t> bytes) const {
  const StandardCodecSerializer& serializer = messageCodec_.serializer();
  ByteStreamReader reader(bytes);
  CodecError error;
  EncodableValue name;
  if (!serializer.readValue(reader, name, error)) return failure<FlutterMethodCall>(error);
  std::string* method = stringIn(name);
  if (method == nullptr) {
    return failure<FlutterMethodCall>(
        CodecError{CodecErrorKind::malformed, 0, "method name is not a string"});
  }
  DecodeResult<FlutterMethodCall> result(std::in_place_index<0>);
  FlutterMethodCall& call = std::get<0>(result);
  call.method = std::move(*method);
  if (!serializer.readValue(reader, call.arguments, error)) {
    return failure<FlutterMethodCall>(error);
  }
  if (!reader.atEnd()) {
    return failure<FlutterMethodCall>(
        reader.error(CodecErrorKind::trailing, "bytes after the arguments"));
  }
  return result;
}

std::vector<uint8_t> StandardMethodCodec::encodeSuccessEnvelope(
    const EncodableValue& result) const {
  std::vector<uint8_t> out;
  out.push_back(kSuccessEnvelope);
  messageCodec_.encodeMessageInto(result, out);
  return out;
}

std::vector<uint8_t> StandardMethodCodec::encodeErrorEnvelope(const FlutterError& error) const {
  std::vector<uint8_t> out;
  out.push_back(kErrorEnvelope);
  {
    ByteStreamWriter writer(out);  // trims its spare room when it goes
    const StandardCodecSerializer& serializer = messageCodec_.serializer();
    serializer.writeString(error.code, writer);
    if (error.message.has_value()) {
      serializer.writeString(*error.message, writer);
    } else {
      serializer.writeValue(EncodableValue(), writer);
    }
    serializer.writeValue(error.details, writer);
  }
  return out;
}

std::vector<uint8_t> StandardMethodCodec::encodeResult(const FlutterResultValue& value) const {
  if (const auto* success = std::get_if<EncodableValue>(&value)) {
    return encodeSuccessEnvelope(*success);
  }
  if (const auto* error = std::get_if<FlutterError>(&value)) return encodeErrorEnvelope(*error);
  return {};
}

DecodeResult<MethodEnvelope> StandardMethodCodec::decodeEnvelope(std::span<const uint8_t> bytes,
                                                                 EnvelopeOptions options) const {
  using Result = DecodeResult<MethodEnvelope>;
  if (bytes.empty()) {
    if (options.emptyReplyIsNotImplemented) {
      return Result(std::in_place_index<0>, FlutterMethodNotImplemented);
    }
    return failure<MethodEnvelope>(CodecError{CodecErrorKind::truncated, 0, "empty reply"});
  }
  const StandardCodecSerializer& serializer = messageCodec_.serializer();
  ByteStreamReader reader(bytes);
  uint8_t flag = 0;
  reader.readByte(flag);
  CodecError error;
  Result result(std::in_place_index<0>);
  if (flag == kSuccessEnvelope) {
    EncodableValue& value = std::get<0>(result).emplace<EncodableValue>();
    if (!serializer.readValue(reader, value, error)) return failure<MethodEnvelope>(error);
  } else if (flag == kErrorEnvelope) {
    FlutterError& flutterError = std::get<0>(result).emplace<FlutterError>();
    EncodableValue code;
    if (!serializer.readValue(reader, code, error)) return failure<MethodEnvelope>(error);
    if (stringIn(code) == nullptr) {
      return failure<MethodEnvelope>(
          CodecError{CodecErrorKind::malformed, 1, "error code is not a string"});
    }
    flutterError.code = std::move(*stringIn(code));
    const size_t messageOffset = reader.offset();
    EncodableValue message;
    if (!serializer.readValue(reader, message, error)) return failure<MethodEnvelope>(error);
    if (stringIn(message) != nullptr) {
      flutterError.message = std::move(*stringIn(message));
    } else if (!message.isNull()) {
      return failure<MethodEnvelope>(CodecError{CodecErrorKind::malformed, messageOffset,
                                                "error message is neither string nor null"});
    }
    if (!serializer.readValue(reader, flutterError.details, error)) {
      return failure<MethodEnvelope>(error);
    }
    // Newer encoders add a stack trace; it is checked and dropped, since the
    // host's error object has no place for it.
    if (options.allowStacktrace && !reader.atEnd()) {
      const size_t traceOffset = reader.offset();
      EncodableValue stacktrace;
      if (!serializer.readValue(reader, stacktrace, error)) return failure<MethodEnvelope>(error);
      if (stringIn(stacktrace) == nullptr && !stacktrace.isNull()) {
        return failure<MethodEnvelope>(CodecError{CodecErrorKind::malformed, traceOffset,
                                                  "stack trace is neither string nor null"});
      }
    }
  } else {
    return failure<MethodEnvelope>(CodecError{CodecErrorKind::malformed, 0, "bad envelope byte"});
  }
  if (!reader.atEnd()) {
    return failure<MethodEnvelope>(reader.error(CodecErrorKind::trailing, "bytes after the reply"));
  }
  return result;
}

}  // namespace korvane
