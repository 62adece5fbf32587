// Method calls and reply envelopes beyond the shared vectors: the stack-trace
// switch, the not-implemented reply, field types, padding after the envelope
// byte, and cut-off input.
#include "platform/embedding/standard_method_codec.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/embedding/testing/byte_list.h"
#include "platform/embedding/testing/identical_values.h"
#include "platform/embedding/testing/point_serializer.h"

namespace korvane {
namespace {

using testing::identicalValues;

using testing::bytes;

const StandardMethodCodec& codec() { return StandardMethodCodec::instance(); }

template <class T>
const CodecError* errorOf(const DecodeResult<T>& result) {
  return std::get_if<CodecError>(&result);
}

// 01, "error", null, null: an error envelope before its optional stack trace.
std::vector<uint8_t> errorEnvelope(std::initializer_list<int> after) {
  std::vector<uint8_t> out = bytes({0x01, 0x07, 0x05, 'e', 'r', 'r', 'o', 'r', 0x00, 0x00});
  for (int b : after) out.push_back(static_cast<uint8_t>(b));
  return out;
}

// Catches a stack trace being refused from newer encoders, accepted when it is
// switched off, or accepted with a type other than string or null.
TEST(StandardMethodCodecTest, AcceptsAStackTraceOnlyWhenAllowed) {
  struct Case {
    std::vector<uint8_t> input;
    bool allow;
    std::optional<CodecErrorKind> error;
  };
  const Case cases[] = {
      {errorEnvelope({0x07, 0x02, 'a', 't'}), true, std::nullopt},
      {errorEnvelope({0x00}), true, std::nullopt},
      {errorEnvelope({}), true, std::nullopt},
      {errorEnvelope({0x03, 1, 0, 0, 0}), true, CodecErrorKind::malformed},
      {errorEnvelope({0x07, 0x02, 'a'}), true, CodecErrorKind::truncated},
      {errorEnvelope({0x00, 0x00}), true, CodecErrorKind::trailing},
      {errorEnvelope({0x07, 0x02, 'a', 't'}), false, CodecErrorKind::trailing},
      {errorEnvelope({}), false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input) + (c.allow ? " allowed" : " not allowed"));
    EnvelopeOptions options;
    options.allowStacktrace = c.allow;
    auto decoded = codec().decodeEnvelope(c.input, options);
    if (c.error) {
      ASSERT_NE(errorOf(decoded), nullptr);
      EXPECT_EQ(errorOf(decoded)->kind, *c.error);
    } else {
      ASSERT_EQ(errorOf(decoded), nullptr) << errorOf(decoded)->what;
      const auto* error = std::get_if<FlutterError>(&std::get<MethodEnvelope>(decoded));
      ASSERT_NE(error, nullptr);
      EXPECT_EQ(error->code, "error");
      EXPECT_EQ(error->message, std::nullopt);
    }
  }
}

// Catches error envelopes whose code or message has the wrong type being
// passed on, and envelope bytes other than 0 and 1 being read as replies.
TEST(StandardMethodCodecTest, RejectsWrongFieldTypesAsMalformed) {
  std::vector<std::vector<uint8_t>> cases = {
      bytes({0x01, 0x00, 0x00, 0x00}),                   // null code
      bytes({0x01, 0x03, 1, 0, 0, 0, 0x00, 0x00}),       // int code
      bytes({0x01, 0x07, 0x01, 'c', 0x01, 0x00}),        // true message
      bytes({0x01, 0x07, 0x01, 'c', 0x0c, 0x00, 0x00}),  // list message
  };
  for (int flag = 2; flag <= 255; ++flag) cases.push_back(bytes({flag, 0x00}));
  for (const auto& input : cases) {
    auto decoded = codec().decodeEnvelope(input);
    ASSERT_NE(errorOf(decoded), nullptr) << ::testing::PrintToString(input);
    EXPECT_EQ(errorOf(decoded)->kind, CodecErrorKind::malformed) << ::testing::PrintToString(input);
  }
}

// Catches the empty reply being misread: the channel sees "not implemented",
// the strict codec view a truncated envelope.
TEST(StandardMethodCodecTest, ReadsAnEmptyReplyByTheOption) {
  auto channelView = codec().decodeEnvelope({});
  ASSERT_EQ(errorOf(channelView), nullptr);
  EXPECT_TRUE(std::holds_alternative<FlutterMethodNotImplementedMarker>(std::get<0>(channelView)));

  auto codecView = codec().decodeEnvelope({}, EnvelopeOptions{.emptyReplyIsNotImplemented = false});
  ASSERT_NE(errorOf(codecView), nullptr);
  EXPECT_EQ(errorOf(codecView)->kind, CodecErrorKind::truncated);
}

// Catches padding in a reply counted from the value instead of the envelope
// byte: a success reply of 1.0 is 00 06, six zero bytes, then the double.
TEST(StandardMethodCodecTest, PadsRepliesFromTheEnvelopeByte) {
  const double one = 1.0;
  std::vector<uint8_t> expected = bytes({0x00, 0x06, 0, 0, 0, 0, 0, 0});
  expected.resize(16);
  std::memcpy(expected.data() + 8, &one, 8);
  EXPECT_EQ(codec().encodeSuccessEnvelope(1.0), expected);
  auto decoded = codec().decodeEnvelope(expected);
  ASSERT_EQ(errorOf(decoded), nullptr);
  EXPECT_TRUE(identicalValues(std::get<EncodableValue>(std::get<0>(decoded)), 1.0));

  // In a method call the arguments are padded from the start of the name.
  std::vector<uint8_t> call = codec().encodeMethodCall({"hi", 1.0});
  ASSERT_EQ(call.size(), 16u);
  EXPECT_EQ(std::vector<uint8_t>(call.begin(), call.begin() + 8),
            bytes({0x07, 0x02, 'h', 'i', 0x06, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(call.begin() + 8, call.end()),
            std::vector<uint8_t>(expected.begin() + 8, expected.end()));
}

// Catches calls with a non-string name or bytes after the arguments being
// dispatched.
TEST(StandardMethodCodecTest, RejectsBadMethodCalls) {
  struct Case {
    std::vector<uint8_t> input;
    CodecErrorKind kind;
  };
  const Case cases[] = {
      {bytes({0x03, 1, 0, 0, 0, 0x00}), CodecErrorKind::malformed},
      {bytes({0x0c, 0x00, 0x00}), CodecErrorKind::malformed},
      {bytes({0x07, 0x01, 'm', 0x00, 0x00}), CodecErrorKind::trailing},
      {bytes({0x07, 0x02, 'm'}), CodecErrorKind::truncated},
      {bytes({0x07, 0x01, 0xff, 0x00}), CodecErrorKind::malformed},
  };
  for (const Case& c : cases) {
    auto decoded = codec().decodeMethodCall(c.input);
    ASSERT_NE(errorOf(decoded), nullptr) << ::testing::PrintToString(c.input);
    EXPECT_EQ(errorOf(decoded)->kind, c.kind) << ::testing::PrintToString(c.input);
  }
}

// Catches a cut-off call or reply being accepted at any length.
TEST(StandardMethodCodecTest, RejectsEveryPrefixAsTruncated) {
  const EncodableValue args = EncodableMap{{"path", "/Applications/Korvane.app"},
                                           {"build", int64_t{1} << 40},
                                           {"sizes", std::vector<double>{1.0, 2.0}}};
  const std::vector<std::vector<uint8_t>> messages = {
      codec().encodeMethodCall({"scan", args}),
      codec().encodeSuccessEnvelope(args),
      codec().encodeErrorEnvelope({"failed", "it failed", args}),
  };
  for (const auto& message : messages) {
    for (size_t length = 1; length < message.size(); ++length) {
      const auto prefix = std::span(message).first(length);
      auto kindOf = [](const auto& result) -> std::optional<CodecErrorKind> {
        if (const CodecError* e = errorOf(result)) return e->kind;
        return std::nullopt;
      };
      const std::optional<CodecErrorKind> kind = message[0] == 0x07
                                                     ? kindOf(codec().decodeMethodCall(prefix))
                                                     : kindOf(codec().decodeEnvelope(prefix));
      EXPECT_EQ(kind, CodecErrorKind::truncated) << "prefix " << length;
    }
  }
}

// Catches the method codec bypassing its serializer for arguments or replies.
TEST(StandardMethodCodecTest, UsesTheExtensionOfItsSerializer) {
  StandardMethodCodec pointCodec(testing::PointSerializer::instance());
  const EncodableValue point = CustomEncodableValue(testing::Point{1, -1});
  const auto call = pointCodec.encodeMethodCall({"move", point});
  EXPECT_EQ(call,
            bytes({0x07, 0x04, 'm', 'o', 'v', 'e', 0x80, 1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff}));
  auto decoded = pointCodec.decodeMethodCall(call);
  ASSERT_EQ(errorOf(decoded), nullptr);
  EXPECT_TRUE(identicalValues(std::get<FlutterMethodCall>(decoded).arguments, point,
                              testing::sameCustomValues<testing::Point>));

  auto reply = pointCodec.decodeEnvelope(pointCodec.encodeResult(FlutterError{"c", "m", point}));
  ASSERT_EQ(errorOf(reply), nullptr);
  EXPECT_TRUE(identicalValues(std::get<FlutterError>(std::get<0>(reply)).details, point,
                              testing::sameCustomValues<testing::Point>));
}

}  // namespace
}  // namespace korvane
