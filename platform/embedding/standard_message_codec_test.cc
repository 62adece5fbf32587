// Round trips of every value type through the standard message codec, the
// exact bytes of size prefixes and padding, and hostile input.
#include "platform/embedding/standard_message_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/embedding/testing/byte_list.h"
#include "platform/embedding/testing/identical_values.h"
#include "platform/embedding/testing/some_data_serializer.h"

namespace korvane {
namespace {

using testing::identicalValues;

using testing::bytes;

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const StandardMessageCodec& codec() {
  static const StandardMessageCodec instance;
  return instance;
}

const CodecError* errorOf(const DecodeResult<EncodableValue>& result) {
  return std::get_if<CodecError>(&result);
}

// A value holding every type, with typed lists at odd offsets and non-string
// map keys.
EncodableValue everyType() {
  EncodableMap keys;
  keys.emplace(EncodableValue(), "null key");
  keys.emplace(int32_t{7}, "int key");
  keys.emplace(int64_t{7}, "int64 key of the same value");
  keys.emplace(2.5, "float key");
  keys.emplace(EncodableList{1, "x"}, "list key");
  keys.emplace(EncodableMap{{"k", true}}, "map key");
  keys.emplace("dup", 1);
  keys.emplace("dup", 2);
  return EncodableList{
      EncodableValue(),
      true,
      false,
      int32_t{-5},
      int64_t{5},
      std::numeric_limits<int64_t>::min(),
      std::numeric_limits<double>::quiet_NaN(),
      -0.0,
      std::numeric_limits<double>::denorm_min(),
      "",
      "h\xE2\x98\xBAw \xF0\x9F\x98\x82",
      std::vector<uint8_t>{0, 255, 7},
      std::vector<int32_t>{std::numeric_limits<int32_t>::min(), -1, 3},
      true,  // shifts what follows off alignment
      std::vector<int64_t>{std::numeric_limits<int64_t>::max(), -2},
      "abc",
      std::vector<double>{1.5, -std::numeric_limits<double>::infinity()},
      std::vector<float>{0.25f, std::numeric_limits<float>::quiet_NaN()},
      std::vector<int32_t>{},
      std::vector<double>{},
      EncodableList{EncodableList{EncodableList{}, EncodableList{1.0}}},
      EncodableMap{},
      std::move(keys),
  };
}

// Catches any type whose encoding and decoding disagree: widths, float bits,
// map order, duplicate and non-string keys, padding at odd offsets.
TEST(StandardMessageCodecTest, RoundTripsEveryType) {
  std::vector<EncodableValue> values = {
      EncodableValue(),
      true,
      false,
      int32_t{0},
      std::numeric_limits<int32_t>::max(),
      int64_t{0},
      std::numeric_limits<int64_t>::max(),
      std::numeric_limits<double>::quiet_NaN(),
      -std::numeric_limits<double>::infinity(),
      "\xF4\x8F\xBF\xBF",  // U+10FFFF
      std::vector<float>{1.0f},
      everyType(),
      EncodableMap{{int32_t{1}, everyType()}, {everyType(), EncodableValue()}},
  };
  for (const EncodableValue& value : values) {
    SCOPED_TRACE(testing::describeValue(value));
    const std::vector<uint8_t> encoded = codec().encodeMessage(value);
    auto decoded = codec().decodeMessage(encoded);
    ASSERT_EQ(errorOf(decoded), nullptr) << errorOf(decoded)->what;
    EXPECT_TRUE(identicalValues(std::get<EncodableValue>(decoded), value));
    EXPECT_EQ(codec().encodeMessage(std::get<EncodableValue>(decoded)), encoded);
  }
}

// Catches size prefixes of the wrong length or value at the 1/3/5-byte
// boundaries, for every sized type.
TEST(StandardMessageCodecTest, WritesSizePrefixesAtTheBoundaries) {
  struct Boundary {
    size_t size;
    std::vector<uint8_t> prefix;
  };
  const Boundary boundaries[] = {
      {0, bytes({0x00})},
      {253, bytes({0xfd})},
      {254, bytes({0xfe, 0xfe, 0x00})},
      {65535, bytes({0xfe, 0xff, 0xff})},
      {65536, bytes({0xff, 0x00, 0x00, 0x01, 0x00})},
  };
  for (const Boundary& b : boundaries) {
    const std::vector<EncodableValue> values = {
        std::string(b.size, 'a'),
        std::vector<uint8_t>(b.size, 1),
        std::vector<int32_t>(b.size, 2),
        std::vector<float>(b.size, 3.0f),
        EncodableList(b.size, EncodableValue(true)),
        [&] {
          EncodableMap map;
          for (size_t i = 0; i < b.size; ++i) map.emplace(EncodableValue(), EncodableValue());
          return EncodableValue(std::move(map));
        }(),
    };
    for (const EncodableValue& value : values) {
      SCOPED_TRACE("size " + std::to_string(b.size) + " type " + std::to_string(value.index()));
      const std::vector<uint8_t> encoded = codec().encodeMessage(value);
      ASSERT_GT(encoded.size(), b.prefix.size());
      EXPECT_EQ(std::vector<uint8_t>(encoded.begin() + 1, encoded.begin() + 1 + b.prefix.size()),
                b.prefix);
      auto decoded = codec().decodeMessage(encoded);
      ASSERT_EQ(errorOf(decoded), nullptr) << errorOf(decoded)->what;
      EXPECT_TRUE(identicalValues(std::get<EncodableValue>(decoded), value));
    }
  }
}

// Catches padding counted from the type byte or the value instead of the
// message start, and padding that is not zero.
TEST(StandardMessageCodecTest, PadsFromTheStartOfTheMessage) {
  const double one = 1.0;
  std::vector<uint8_t> oneBytes(8);
  std::memcpy(oneBytes.data(), &one, 8);

  // [true, [1.0] as float64list]: the list's elements start at offset 8.
  EXPECT_EQ(codec().encodeMessage(EncodableList{true, std::vector<double>{1.0}}),
            concat(bytes({0x0c, 0x02, 0x01, 0x0b, 0x01, 0, 0, 0}), oneBytes));
  // [true, [7] as int32list]: offset 5 pads to 8.
  EXPECT_EQ(codec().encodeMessage(EncodableList{true, std::vector<int32_t>{7}}),
            bytes({0x0c, 0x02, 0x01, 0x09, 0x01, 0, 0, 0, 7, 0, 0, 0}));
  // Appended after existing bytes, padding counts those bytes too.
  for (size_t prefix = 0; prefix < 9; ++prefix) {
    std::vector<uint8_t> out(prefix, 0xaa);
    codec().encodeMessageInto(1.0, out);
    const size_t valueAt = (prefix + 1 + 7) / 8 * 8;
    ASSERT_EQ(out.size(), valueAt + 8) << "prefix " << prefix;
    EXPECT_EQ(out[prefix], 0x06);
    for (size_t i = prefix + 1; i < valueAt; ++i) EXPECT_EQ(out[i], 0) << "padding at " << i;
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + valueAt, out.end()), oneBytes);
  }
}

// Catches the obsolete large-integer type being rejected or kept as a
// number: it reads as its string, and is never written.
TEST(StandardMessageCodecTest, ReadsTheLargeIntegerTypeAsAString) {
  auto decoded = codec().decodeMessage(bytes({0x05, 0x04, '1', 'a', '2', 'F'}));
  ASSERT_EQ(errorOf(decoded), nullptr);
  EXPECT_TRUE(identicalValues(std::get<EncodableValue>(decoded), "1a2F"));
  EXPECT_EQ(codec().encodeMessage(std::get<EncodableValue>(decoded))[0], 0x07);
}

// Catches an unhandled custom value corrupting the message instead of
// encoding as null.
TEST(StandardMessageCodecTest, WritesACustomValueWithoutExtensionAsNull) {
  EncodableValue value = EncodableList{CustomEncodableValue(42), 1};
  EXPECT_EQ(codec().encodeMessage(value), bytes({0x0c, 0x02, 0x00, 0x03, 0x01, 0, 0, 0}));
}

// Catches a decoder that reads past the end or accepts a cut-off message:
// every proper prefix of a valid message is truncated.
TEST(StandardMessageCodecTest, RejectsEveryPrefixAsTruncated) {
  const std::vector<uint8_t> encoded = codec().encodeMessage(everyType());
  for (size_t length = 1; length < encoded.size(); ++length) {
    auto decoded = codec().decodeMessage(std::span(encoded).first(length));
    ASSERT_NE(errorOf(decoded), nullptr) << "prefix " << length << " decoded";
    EXPECT_EQ(errorOf(decoded)->kind, CodecErrorKind::truncated) << "prefix " << length;
    EXPECT_LE(errorOf(decoded)->offset, length);
  }
}

// Catches sizes trusted before they are checked against the bytes left
// (over-reads, huge allocations, 32-bit overflow of count * element size).
TEST(StandardMessageCodecTest, RejectsSizesBeyondTheInputAsTruncated) {
  const std::vector<uint8_t> cases[] = {
      bytes({0x07, 0xff, 0xff, 0xff, 0xff, 0xff, 'a', 'b', 'c'}),
      bytes({0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 1, 2, 3}),
      bytes({0x09, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 2, 3, 4}),
      bytes({0x0a, 0xff, 0x00, 0x00, 0x00, 0x20, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}),
      bytes({0x0b, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}),
      bytes({0x0e, 0xff, 0x00, 0x00, 0x00, 0x40, 0, 0, 1, 2, 3, 4}),
      bytes({0x0c, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0}),
      bytes({0x0d, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0}),
      bytes({0x0d, 0x02, 0x00, 0x00, 0x00}),  // two entries need four values
      bytes({0x0c, 0xfe, 0xff}),              // the size itself cut off
      bytes({0x07, 0xff, 0x01, 0x00}),
  };
  for (const auto& input : cases) {
    auto decoded = codec().decodeMessage(input);
    ASSERT_NE(errorOf(decoded), nullptr);
    EXPECT_EQ(errorOf(decoded)->kind, CodecErrorKind::truncated) << "first byte " << +input[0];
  }
}

// Catches reserved or unregistered type bytes read as something, at any depth.
TEST(StandardMessageCodecTest, RejectsUnknownTypeBytes) {
  for (int type = 15; type <= 255; ++type) {
    auto decoded = codec().decodeMessage(bytes({0x0c, 0x02, 0x00, type, 0, 0, 0, 0}));
    ASSERT_NE(errorOf(decoded), nullptr) << type;
    EXPECT_EQ(errorOf(decoded)->kind, CodecErrorKind::unknownType) << type;
    EXPECT_EQ(errorOf(decoded)->offset, 3u) << type;
  }
}

// Catches bytes after a complete message being ignored.
TEST(StandardMessageCodecTest, RejectsTrailingBytes) {
  for (const auto& input :
       {bytes({0x00, 0x00}), bytes({0x0c, 0x00, 0x01}), bytes({0x03, 1, 0, 0, 0, 0})}) {
    auto decoded = codec().decodeMessage(input);
    ASSERT_NE(errorOf(decoded), nullptr);
    EXPECT_EQ(errorOf(decoded)->kind, CodecErrorKind::trailing);
    EXPECT_EQ(errorOf(decoded)->offset, input.size() - 1);
  }
}

// Catches strings that are not UTF-8 being handed on, in any position.
TEST(StandardMessageCodecTest, RejectsInvalidUtf8AsMalformed) {
  const std::vector<uint8_t> cases[] = {
      bytes({0x07, 0x02, 0xc0, 0x80}),       bytes({0x07, 0x03, 0xed, 0xa0, 0x80}),
      bytes({0x0c, 0x01, 0x07, 0x01, 0xff}), bytes({0x0d, 0x01, 0x07, 0x01, 0x80, 0x00}),
      bytes({0x05, 0x02, 0xe2, 0x82}),
  };
  for (const auto& input : cases) {
    auto decoded = codec().decodeMessage(input);
    ASSERT_NE(errorOf(decoded), nullptr);
    EXPECT_EQ(errorOf(decoded)->kind, CodecErrorKind::malformed);
  }
}

std::vector<uint8_t> repeated(const std::vector<uint8_t>& unit, size_t count) {
  std::vector<uint8_t> out;
  out.reserve(unit.size() * count);
  for (size_t i = 0; i < count; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// `depth` containers opened by `header`, the innermost value, and what each
// container still needs after its nested value.
std::vector<uint8_t> nested(const std::vector<uint8_t>& header, size_t depth,
                            const std::vector<uint8_t>& innermost,
                            const std::vector<uint8_t>& closing = {}) {
  return concat(concat(repeated(header, depth), innermost), repeated(closing, depth));
}

// Catches unbounded recursion (a stack overflow on hostile input) and an
// off-by-one in the nesting bound, through list elements, map keys and map
// values.
TEST(StandardMessageCodecTest, BoundsNestingDepth) {
  const size_t limit = kMaxNestingDepth;
  struct Case {
    const char* name;
    std::vector<uint8_t> header;
    std::vector<uint8_t> closing;
  };
  const Case cases[] = {
      {"list element", bytes({0x0c, 0x01}), {}},
      {"map value", bytes({0x0d, 0x01, 0x00}), {}},
      {"map key", bytes({0x0d, 0x01}), bytes({0x00})},
  };
  const std::vector<uint8_t> emptyList = bytes({0x0c, 0x00});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The innermost container sits at depth `limit`.
    auto ok = codec().decodeMessage(nested(c.header, limit - 1, emptyList, c.closing));
    EXPECT_EQ(errorOf(ok), nullptr) << errorOf(ok)->what;

    auto tooDeep = codec().decodeMessage(nested(c.header, limit, emptyList, c.closing));
    ASSERT_NE(errorOf(tooDeep), nullptr);
    EXPECT_EQ(errorOf(tooDeep)->kind, CodecErrorKind::malformed);

    // 100,000 levels: rejected where the bound is crossed, not after a walk
    // through the whole input.
    auto hostile = codec().decodeMessage(repeated(c.header, 100000));
    ASSERT_NE(errorOf(hostile), nullptr);
    EXPECT_EQ(errorOf(hostile)->kind, CodecErrorKind::malformed);
    EXPECT_LE(errorOf(hostile)->offset, (limit + 1) * c.header.size());
  }
}

// Catches custom values escaping the nesting bound: an extension that reads a
// full value inside its payload recurses through the same limit.
TEST(StandardMessageCodecTest, BoundsNestingThroughCustomValues) {
  const size_t limit = kMaxNestingDepth;
  StandardMessageCodec custom(testing::SomeDataSerializer::instance());
  const std::vector<uint8_t> someData = bytes({0x81, 0x00, 0x07, 0x00});
  const std::vector<uint8_t> list = bytes({0x0c, 0x01});

  EXPECT_EQ(errorOf(custom.decodeMessage(nested(list, limit - 1, someData))), nullptr);
  auto tooDeep = custom.decodeMessage(nested(list, limit, someData));
  ASSERT_NE(errorOf(tooDeep), nullptr);
  EXPECT_EQ(errorOf(tooDeep)->kind, CodecErrorKind::malformed);

  // Each payload's label is again a custom value, 100,000 deep.
  auto hostile = custom.decodeMessage(repeated(bytes({0x81, 0x00}), 100000));
  ASSERT_NE(errorOf(hostile), nullptr);
  EXPECT_EQ(errorOf(hostile)->kind, CodecErrorKind::malformed);
  EXPECT_LE(errorOf(hostile)->offset, (limit + 1) * 2);
}

// Catches an empty message being rejected: Flutter's C++ and Linux decoders
// read it as null.
TEST(StandardMessageCodecTest, DecodesEmptyInputAsNull) {
  auto decoded = codec().decodeMessage({});
  ASSERT_EQ(errorOf(decoded), nullptr);
  EXPECT_TRUE(std::get<EncodableValue>(decoded).isNull());
}

}  // namespace
}  // namespace korvane
