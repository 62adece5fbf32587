// The standard codecs. Every entry of testing/data/codec-vectors.json (bytes
// gathered from Flutter's own codec tests) runs as its own test case, so that
// a byte-level incompatibility with the Dart, Linux, macOS or C++ codecs names
// the vector; the two entries of the fixed-size test extensions ("point",
// "sized_string") are left out, as "somedata" covers the extension hooks.
// Then hostile input beyond the vectors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/embedding/standard_method_codec.h"
#include "platform/embedding/testing/some_data_serializer.h"

namespace korvane {
namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;
using enum CodecErrorKind;
using testing::SomeData;

using Decoded = std::pair<std::optional<CodecError>, Bytes>;  // the error, or the value

// Decodes `in` as a message ('m'), a method call ('c') or a reply ('e'); what
// decodes is encoded again.
Decoded decode(std::span<const uint8_t> in, char as,
               const StandardMethodCodec& c = StandardMethodCodec::instance(),
               EnvelopeOptions options = {}) {
  auto out = [](const auto& result, auto encode) -> Decoded {
    if (const auto* error = std::get_if<CodecError>(&result)) return {*error, {}};
    return {std::nullopt, encode(std::get<0>(result))};
  };
  const StandardMessageCodec& m = c.messageCodec();
  if (as == 'm') return out(m.decodeMessage(in), [&](auto& v) { return m.encodeMessage(v); });
  if (as == 'c') return out(c.decodeMethodCall(in), [&](auto& v) { return c.encodeMethodCall(v); });
  return out(c.decodeEnvelope(in, options), [&](auto& v) { return c.encodeResult(v); });
}

std::optional<CodecErrorKind> kindOf(const Decoded& decoded) {
  return decoded.first ? std::optional(decoded.first->kind) : std::nullopt;
}

// Every entry; one nameless entry (which fails)
// when the file cannot be read.
std::vector<json> vectors() {
  const char* dir = std::getenv("KORVANE_TEST_DATA");
  std::ifstream in(std::string(dir != nullptr ? dir : KORVANE_SOURCE_TEST_DATA) +
                   "/codec-vectors.json");
  const json all = json::parse(in, nullptr, /*allow_exceptions=*/false);
  std::vector<json> out;
  for (const char* section :
       {"message_codec", "message_codec_rejects", "method_codec", "method_codec_rejects"}) {
    for (const json& entry : all.is_object() ? all.value(section, json::array()) : json()) {
      if (entry.value("ext", "somedata") == "somedata") out.push_back(entry);
    }
  }
  if (out.empty()) out.push_back({{"name", "vectors_not_loaded"}});
  return out;
}

// A hex string, or a list of hex strings and {"repeat", "count"} parts.
Bytes hexBytes(const json& hex) {
  Bytes out;
  for (const json& part : hex.is_array() ? hex : json::array({hex})) {
    const std::string digits = part.is_string() ? part : part.at("repeat");
    for (int64_t n = part.is_string() ? 1 : part.at("count").get<int64_t>(); n > 0; --n) {
      for (size_t i = 0; i + 1 < digits.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
      }
    }
  }
  return out;
}

// A value written as {"t": tag, "v": payload}; float64 payloads may be "NaN"
// or "(-)Infinity", which strtod reads.
EncodableValue fromJson(const json& value) {
  const std::string t = value.at("t");
  const json v = value.value("v", json());
  if (t == "null") return EncodableValue();
  if (t == "bool") return EncodableValue(v.get<bool>());
  if (t == "int") return EncodableValue::integer(v.get<int64_t>());
  if (t == "int32") return EncodableValue(v.get<int32_t>());
  if (t == "int64") return EncodableValue(v.get<int64_t>());
  if (t == "float64")
    return EncodableValue(v.is_number() ? double(v) : std::stod(v.get<std::string>()));
  if (t == "string") return EncodableValue(v.get<std::string>());
  if (t == "uint8list") return EncodableValue(hexBytes(v));
  if (t == "int32list") return EncodableValue(v.get<std::vector<int32_t>>());
  if (t == "int64list") return EncodableValue(v.get<std::vector<int64_t>>());
  if (t == "float32list") return EncodableValue(v.get<std::vector<float>>());
  if (t == "float64list") return EncodableValue(v.get<std::vector<double>>());
  if (t == "custom") return CustomEncodableValue(SomeData{v.at("label"), hexBytes(v.at("data"))});
  EncodableList list;
  EncodableMap map;
  for (const json& e : v) {
    if (t == "list") list.push_back(fromJson(e));
    if (t == "map") map.emplace(fromJson(e.at(0)), fromJson(e.at(1)));
  }
  return t == "list" ? EncodableValue(std::move(list)) : EncodableValue(std::move(map));
}

class CodecVector : public ::testing::TestWithParam<json> {};

// Catches any byte-level difference from Flutter's encoders (sizes, padding,
// integer width, UTF-8, envelopes); values, calls or replies decoded wrongly;
// cut-off input accepted; and bytes Flutter's decoders reject being accepted
// or misclassified (under the decoder switches a vector names). Encoding is
// exact (type bytes, widths, float bits, order), so what decodes to a value
// that encodes to the vector's bytes is the vector's value.
TEST_P(CodecVector, MatchesFlutterBytes) {
  const json& e = GetParam();
  ASSERT_TRUE(e.contains("hex")) << "no vectors loaded";
  const StandardMethodCodec codec(e.contains("ext") ? testing::SomeDataSerializer::instance()
                                                    : StandardCodecSerializer::instance());
  const json options = e.value("options", json::object());
  const EnvelopeOptions envelope{options.value("empty_reply_is_not_implemented", true),
                                 options.value("allow_stacktrace", true)};
  const std::string kind = e.value("kind", e.value("op", ""));  // none for messages
  const char as = kind.empty() ? 'm' : kind.ends_with("method_call") ? 'c' : 'e';
  const Bytes bytes = hexBytes(e.at("hex"));
  const auto [error, decoded] = decode(bytes, as, codec, envelope);
  const char* names[] = {"truncated", "trailing", "unknown_type", "malformed"};
  EXPECT_EQ(error ? names[static_cast<int>(error->kind)] : "none", e.value("error", "none"));
  if (e.contains("error")) return;
  Bytes expected;  // not implemented: no bytes
  if (kind.empty()) expected = codec.messageCodec().encodeMessage(fromJson(e.at("value")));
  if (kind == "method_call") {
    expected = codec.encodeMethodCall({e.at("method"), fromJson(e.at("args"))});
  }
  if (kind == "success") expected = codec.encodeResult(fromJson(e.at("result")));
  if (kind == "error") {
    const json& message = e.at("message");
    expected = codec.encodeResult(FlutterError{
        e.at("code"), message.is_null() ? std::nullopt : std::optional<std::string>(message),
        fromJson(e.at("details"))});
  }
  EXPECT_EQ(e.value("mode", "") == "decode_only" ? bytes : expected, bytes);
  EXPECT_EQ(decoded, expected);
  for (size_t n = 1; n < bytes.size(); ++n) {
    EXPECT_EQ(kindOf(decode(std::span(bytes).first(n), as, codec)), truncated) << "first " << n;
  }
}

std::string nameOf(const ::testing::TestParamInfo<json>& entry) { return entry.param.at("name"); }

INSTANTIATE_TEST_SUITE_P(Vectors, CodecVector, ::testing::ValuesIn(vectors()), nameOf);

// Catches sizes trusted before they are checked (over-reads, 32-bit overflow
// of count * element size) or checked too strictly, bytes after a complete
// value ignored, strings that are not UTF-8 handed on, a stack trace refused
// from newer encoders or taken with a wrong type, fields of the wrong type,
// unknown type bytes read as something at any depth, and envelope bytes other
// than 0 and 1 read as replies.
TEST(StandardCodecTest, RejectsHostileInputByKind) {
  const std::tuple<char, Bytes, std::optional<CodecErrorKind>> cases[] = {
      // 'm'essage, 'c'all, 'e'nvelope; the last four end with a stack trace
      // clang-format off
      {'m', {0x0c, 0x02, 0x00, 0x01}, std::nullopt},  // one byte per element
      {'m', {0x0d, 0x01, 0x00, 0x00}, std::nullopt},  // two bytes per entry
      {'m', {0x0a, 0xff, 0x00, 0x00, 0x00, 0x20, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, truncated},
      {'m', {0x0c, 0x00, 0x01}, trailing},
      {'m', {0x07, 0x02, 0xc0, 0x80}, malformed},
      {'c', {0x07, 0x01, 'm', 0x00, 0x00}, trailing},
      {'e', {0x01, 0x03, 1, 0, 0, 0, 0x00, 0x00}, malformed},
      {'e', {0x01, 0x07, 0x01, 'c', 0x0c, 0x00, 0x00}, malformed},
      {'e', {0x01, 0x07, 0x01, 'e', 0x00, 0x00, 0x07, 0x02, 'a', 't'}, std::nullopt},
      {'e', {0x01, 0x07, 0x01, 'e', 0x00, 0x00, 0x00}, std::nullopt},
      {'e', {0x01, 0x07, 0x01, 'e', 0x00, 0x00, 0x03, 1, 0, 0, 0}, malformed},
      {'e', {0x01, 0x07, 0x01, 'e', 0x00, 0x00, 0x00, 0x00}, trailing},
      // clang-format on
  };
  for (const auto& [as, input, kind] : cases) {
    EXPECT_EQ(kindOf(decode(input, as)), kind) << ::testing::PrintToString(input);
  }
  for (int b = 2; b <= 255; ++b) {
    const auto byte = static_cast<uint8_t>(b);
    EXPECT_EQ(kindOf(decode(Bytes{byte, 0x00}, 'e')), malformed) << b;
    if (b < 15) continue;
    const auto unknown = decode(Bytes{0x0c, 0x02, 0x00, byte, 0, 0, 0, 0}, 'm');
    EXPECT_EQ(kindOf(unknown), unknownType) << b;
    EXPECT_EQ(unknown.first.value_or(CodecError{}).offset, 3u) << b;
  }
}

// Catches unbounded recursion (a stack overflow on hostile input) and an
// off-by-one in the nesting bound, through list elements, map values, map
// keys, and custom values whose payload reads a full value.
TEST(StandardCodecTest, BoundsNestingDepth) {
  const StandardMethodCodec custom(testing::SomeDataSerializer::instance());
  const std::tuple<Bytes, Bytes, Bytes> cases[] = {
      // header, innermost (none: hostile only), closing
      // clang-format off
      {{0x0c, 0x01}, {0x0c, 0x00}, {}},
      {{0x0d, 0x01, 0x00}, {0x0c, 0x00}, {}},
      {{0x0d, 0x01}, {0x0c, 0x00}, {0x00}},
      {{0x0c, 0x01}, {0x81, 0x00, 0x07, 0x00}, {}},  // custom: no data, label ""
      {{0x81, 0x00}, {}, {}},                        // each label again a custom value
      // clang-format on
  };
  for (const auto& [header, innermost, closing] : cases) {
    auto nested = [&](size_t depth) {
      Bytes out;
      for (size_t i = 0; i < depth; ++i) out.insert(out.end(), header.begin(), header.end());
      out.insert(out.end(), innermost.begin(), innermost.end());
      for (size_t i = 0; i < depth; ++i) out.insert(out.end(), closing.begin(), closing.end());
      return out;
    };
    SCOPED_TRACE(::testing::PrintToString(header) + ::testing::PrintToString(innermost));
    if (!innermost.empty()) {
      EXPECT_FALSE(decode(nested(kMaxNestingDepth - 1), 'm', custom).first);
      EXPECT_EQ(kindOf(decode(nested(kMaxNestingDepth), 'm', custom)), malformed);
    }
    // 100,000 levels: rejected where the bound is crossed, not after a walk.
    const auto hostile = decode(nested(100000), 'm', custom);
    ASSERT_EQ(kindOf(hostile), malformed);
    EXPECT_LE(hostile.first->offset, (kMaxNestingDepth + 1) * header.size());
  }
}

}  // namespace
}  // namespace korvane
