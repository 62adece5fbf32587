// Decodes arbitrary bytes as a message, a method call and a reply envelope,
// with the standard serializer and with one that has a custom type whose
// payload nests a full value. Whatever decodes must encode again and decode to
// an identical value (same integer widths, same float bits), and the second
// encoding must equal the first. Any crash, sanitizer report or mismatch is a
// finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "fuzz/identical_values.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/embedding/testing/some_data_serializer.h"

namespace {

using korvane::CodecError;
using korvane::EncodableValue;
using korvane::EnvelopeOptions;
using korvane::FlutterError;
using korvane::FlutterMethodCall;
using korvane::MethodEnvelope;
using korvane::StandardMethodCodec;
using korvane::testing::SomeData;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "round trip broken: %s\n", what);
  std::abort();
}

bool identical(const EncodableValue& a, const EncodableValue& b) {
  return korvane::testing::identicalValues(a, b, korvane::testing::sameCustomValues<SomeData>);
}

void checkMessage(const StandardMethodCodec& codec, std::span<const uint8_t> input) {
  const auto& messages = codec.messageCodec();
  auto decoded = messages.decodeMessage(input);
  const auto* value = std::get_if<EncodableValue>(&decoded);
  if (value == nullptr) return;
  const std::vector<uint8_t> encoded = messages.encodeMessage(*value);
  auto again = messages.decodeMessage(encoded);
  const auto* second = std::get_if<EncodableValue>(&again);
  require(second != nullptr, "message does not decode after encoding");
  require(identical(*value, *second), "message changes in a round trip");
  require(messages.encodeMessage(*second) == encoded, "message encodes differently");
}

void checkMethodCall(const StandardMethodCodec& codec, std::span<const uint8_t> input) {
  auto decoded = codec.decodeMethodCall(input);
  const auto* call = std::get_if<FlutterMethodCall>(&decoded);
  if (call == nullptr) return;
  const std::vector<uint8_t> encoded = codec.encodeMethodCall(*call);
  auto again = codec.decodeMethodCall(encoded);
  const auto* second = std::get_if<FlutterMethodCall>(&again);
  require(second != nullptr, "method call does not decode after encoding");
  require(call->method == second->method, "method name changes in a round trip");
  require(identical(call->arguments, second->arguments), "arguments change in a round trip");
  require(codec.encodeMethodCall(*second) == encoded, "method call encodes differently");
}

void checkEnvelope(const StandardMethodCodec& codec, std::span<const uint8_t> input,
                   EnvelopeOptions options) {
  auto decoded = codec.decodeEnvelope(input, options);
  const auto* envelope = std::get_if<MethodEnvelope>(&decoded);
  if (envelope == nullptr) return;
  const std::vector<uint8_t> encoded = codec.encodeResult(*envelope);
  auto again = codec.decodeEnvelope(encoded);
  const auto* second = std::get_if<MethodEnvelope>(&again);
  require(second != nullptr, "reply does not decode after encoding");
  require(envelope->index() == second->index(), "reply changes kind in a round trip");
  if (const auto* value = std::get_if<EncodableValue>(envelope)) {
    require(identical(*value, std::get<EncodableValue>(*second)), "result changes");
  } else if (const auto* error = std::get_if<FlutterError>(envelope)) {
    const auto& other = std::get<FlutterError>(*second);
    require(error->code == other.code && error->message == other.message,
            "error code or message changes");
    require(identical(error->details, other.details), "error details change");
  }
  require(codec.encodeResult(*second) == encoded, "reply encodes differently");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const StandardMethodCodec& standard = StandardMethodCodec::instance();
  static const StandardMethodCodec custom(korvane::testing::SomeDataSerializer::instance());
  const std::span<const uint8_t> input(data, size);
  for (const StandardMethodCodec* codec : {&standard, &custom}) {
    checkMessage(*codec, input);
    checkMethodCall(*codec, input);
    checkEnvelope(*codec, input, EnvelopeOptions{});
    checkEnvelope(*codec, input,
                  EnvelopeOptions{.emptyReplyIsNotImplemented = false, .allowStacktrace = false});
  }
  return 0;
}
