// Runs every entry of testing/data/codec-vectors.json (bytes gathered from
// Flutter's own codec tests) as its own test case, so that a byte-level
// incompatibility with the Dart, Linux, macOS or C++ codecs names the vector.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/embedding/standard_message_codec.h"
#include "platform/embedding/standard_method_codec.h"
#include "platform/embedding/testing/identical_values.h"
#include "platform/embedding/testing/point_serializer.h"
#include "platform/embedding/testing/sized_string_serializer.h"
#include "platform/embedding/testing/some_data_serializer.h"

namespace korvane {
namespace {

using nlohmann::json;
using testing::Point;
using testing::SizedString;
using testing::SomeData;

constexpr const char* kSections[] = {"message_codec", "message_codec_rejects", "method_codec",
                                     "method_codec_rejects"};

std::string vectorsPath() {
  const char* dir = std::getenv("KORVANE_TEST_DATA");
  return std::string(dir != nullptr && *dir != '\0' ? dir : KORVANE_SOURCE_TEST_DATA) +
         "/codec-vectors.json";
}

// The parsed file, or null when it cannot be read (reported by a test below,
// and by the placeholder case each section gets instead of its vectors).
const json& allVectors() {
  static const json vectors = [] {
    std::ifstream in(vectorsPath());
    if (!in) return json();
    return json::parse(in, nullptr, /*allow_exceptions=*/false);
  }();
  return vectors;
}

std::vector<json> sectionVectors(const char* section) {
  const json& all = allVectors();
  if (all.is_object() && all.contains(section) && all[section].is_array() &&
      !all[section].empty()) {
    return all[section].get<std::vector<json>>();
  }
  return {json{{"name", "vectors_not_loaded"}, {"missing", true}}};
}

std::string testName(const ::testing::TestParamInfo<json>& info) {
  std::string name = info.param.value("name", "unnamed");
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

// Fails the current case when the placeholder of an unreadable file runs.
bool vectorPresent(const json& entry) {
  if (!entry.contains("missing")) return true;
  ADD_FAILURE() << "no vectors loaded from " << vectorsPath();
  return false;
}

[[noreturn]] void badVector(const std::string& what) {
  throw std::runtime_error("vector not understood: " + what);
}

// ---- bytes ----

std::vector<uint8_t> hexString(const std::string& hex) {
  if (hex.size() % 2 != 0) badVector("odd hex " + hex);
  std::vector<uint8_t> out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// A hex string, or a list of hex strings and {"repeat", "count"} parts.
std::vector<uint8_t> hexBytes(const json& hex) {
  if (hex.is_string()) return hexString(hex.get<std::string>());
  if (!hex.is_array()) badVector("hex " + hex.dump());
  std::vector<uint8_t> out;
  for (const json& part : hex) {
    if (part.is_string()) {
      const auto bytes = hexString(part.get<std::string>());
      out.insert(out.end(), bytes.begin(), bytes.end());
    } else if (part.is_object() && part.contains("repeat") && part.contains("count")) {
      const auto unit = hexString(part["repeat"].get<std::string>());
      for (int64_t i = 0; i < part["count"].get<int64_t>(); ++i) {
        out.insert(out.end(), unit.begin(), unit.end());
      }
    } else {
      badVector("hex part " + part.dump());
    }
  }
  return out;
}

::testing::AssertionResult sameBytes(const std::vector<uint8_t>& actual,
                                     const std::vector<uint8_t>& expected) {
  auto hexAround = [](const std::vector<uint8_t>& b, size_t at) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = at; i < b.size() && i < at + 24; ++i) {
      out += digits[b[i] >> 4];
      out += digits[b[i] & 15];
    }
    return out;
  };
  size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  if (i == actual.size() && i == expected.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "bytes differ at offset " << i << " (sizes " << actual.size() << " vs "
         << expected.size() << "): got ..." << hexAround(actual, i) << " expected ..."
         << hexAround(expected, i);
}

// ---- values ----

double floatOf(const json& v) {
  if (v.is_number()) return v.get<double>();
  if (v == "NaN") return std::numeric_limits<double>::quiet_NaN();
  if (v == "Infinity") return std::numeric_limits<double>::infinity();
  if (v == "-Infinity") return -std::numeric_limits<double>::infinity();
  badVector("float " + v.dump());
}

float float32Of(const json& v) {
  const double d = floatOf(v);
  const auto f = static_cast<float>(d);
  if (!std::isnan(d) && static_cast<double>(f) != d) badVector("inexact float32 " + v.dump());
  return f;
}

template <class T>
std::vector<T> numbers(const json& v) {
  std::vector<T> out;
  for (const json& e : v) {
    if constexpr (std::is_same_v<T, double>) {
      out.push_back(floatOf(e));
    } else if constexpr (std::is_same_v<T, float>) {
      out.push_back(float32Of(e));
    } else {
      out.push_back(e.get<T>());
    }
  }
  return out;
}

// The C++ value of a custom payload, by the extension named in the entry.
std::any customPayload(const json& v, const std::string& ext) {
  if (ext == "point") return Point{v.at("x").get<int32_t>(), v.at("y").get<int32_t>()};
  if (ext == "somedata") return SomeData{v.at("label").get<std::string>(), hexBytes(v.at("data"))};
  if (ext == "sized_string") return SizedString{v.get<std::string>()};
  badVector("extension '" + ext + "'");
}

EncodableValue fromJson(const json& value, const std::string& ext) {
  const std::string tag = value.at("t").get<std::string>();
  const json& v = value.contains("v") ? value["v"] : json();
  if (tag == "null") return EncodableValue();
  if (tag == "bool") return EncodableValue(v.get<bool>());
  if (tag == "int") return EncodableValue::integer(v.get<int64_t>());
  if (tag == "int32") return EncodableValue(v.get<int32_t>());
  if (tag == "int64") return EncodableValue(v.get<int64_t>());
  if (tag == "float64") return EncodableValue(floatOf(v));
  if (tag == "string") return EncodableValue(v.get<std::string>());
  if (tag == "uint8list") return EncodableValue(hexBytes(v));
  if (tag == "int32list") return EncodableValue(numbers<int32_t>(v));
  if (tag == "int64list") return EncodableValue(numbers<int64_t>(v));
  if (tag == "float32list") return EncodableValue(numbers<float>(v));
  if (tag == "float64list") return EncodableValue(numbers<double>(v));
  if (tag == "list") {
    EncodableList list;
    for (const json& e : v) list.push_back(fromJson(e, ext));
    return EncodableValue(std::move(list));
  }
  if (tag == "map") {
    EncodableMap map;
    for (const json& pair : v) map.emplace(fromJson(pair.at(0), ext), fromJson(pair.at(1), ext));
    return EncodableValue(std::move(map));
  }
  if (tag == "custom") return EncodableValue(CustomEncodableValue(customPayload(v, ext)));
  badVector("tag '" + tag + "'");
}

// Whether a decoded value is the vector's value: "int" accepts either width,
// floats compare by bits (any NaN for "NaN"), maps in order.
::testing::AssertionResult matches(const EncodableValue& actual, const json& expected,
                                   const std::string& ext) {
  const std::string tag = expected.at("t").get<std::string>();
  const json& v = expected.contains("v") ? expected["v"] : json();
  auto fail = [&] {
    return ::testing::AssertionFailure()
           << "got " << testing::describeValue(actual) << ", expected " << expected.dump();
  };
  auto sameFloat = [](double a, double b) {
    return std::isnan(b) ? std::isnan(a) : std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
  };
  bool ok = false;
  if (tag == "int") {
    ok = actual.asInteger() == v.get<int64_t>();
  } else if (tag == "float64") {
    const auto* d = std::get_if<double>(&actual);
    ok = d != nullptr && sameFloat(*d, floatOf(v));
  } else if (tag == "float64list" || tag == "float32list") {
    auto sameList = [&](const auto* got, const auto& want) {
      return got != nullptr && got->size() == want.size() &&
             std::equal(got->begin(), got->end(), want.begin(),
                        [&](double a, double b) { return sameFloat(a, b); });
    };
    ok = tag == "float64list"
             ? sameList(std::get_if<std::vector<double>>(&actual), numbers<double>(v))
             : sameList(std::get_if<std::vector<float>>(&actual), numbers<float>(v));
  } else if (tag == "list") {
    const auto* list = actual.asList();
    if (list == nullptr || list->size() != v.size()) return fail();
    for (size_t i = 0; i < list->size(); ++i) {
      auto r = matches((*list)[i], v[i], ext);
      if (!r) return r << " (at list index " << i << ")";
    }
    return ::testing::AssertionSuccess();
  } else if (tag == "map") {
    const auto* map = actual.asMap();
    if (map == nullptr || map->size() != v.size()) return fail();
    for (size_t i = 0; i < map->size(); ++i) {
      auto r = matches(map->entries()[i].first, v[i].at(0), ext);
      if (r) r = matches(map->entries()[i].second, v[i].at(1), ext);
      if (!r) return r << " (at map entry " << i << ")";
    }
    return ::testing::AssertionSuccess();
  } else if (tag == "custom") {
    const auto* custom = std::get_if<CustomEncodableValue>(&actual);
    ok = custom != nullptr && testing::sameCustomValues<Point, SomeData, SizedString>(
                                  *custom, CustomEncodableValue(customPayload(v, ext)));
  } else {
    // Every other tag has exactly one representation.
    ok = testing::identicalValues(actual, fromJson(expected, ext));
  }
  return ok ? ::testing::AssertionSuccess() : fail();
}

const StandardCodecSerializer& serializerFor(const json& entry) {
  if (!entry.contains("ext")) return StandardCodecSerializer::instance();
  const std::string ext = entry["ext"].get<std::string>();
  if (ext == "point") return testing::PointSerializer::instance();
  if (ext == "somedata") return testing::SomeDataSerializer::instance();
  if (ext == "sized_string") return testing::SizedStringSerializer::instance();
  badVector("extension '" + ext + "'");
}

CodecErrorKind errorKind(const json& entry) {
  const std::string name = entry.at("error").get<std::string>();
  if (name == "truncated") return CodecErrorKind::truncated;
  if (name == "trailing") return CodecErrorKind::trailing;
  if (name == "unknown_type") return CodecErrorKind::unknownType;
  if (name == "malformed") return CodecErrorKind::malformed;
  badVector("error '" + name + "'");
}

template <class T>
::testing::AssertionResult failsWith(const DecodeResult<T>& result, CodecErrorKind kind) {
  const auto* error = std::get_if<CodecError>(&result);
  if (error == nullptr) return ::testing::AssertionFailure() << "decoded without error";
  if (error->kind != kind) {
    return ::testing::AssertionFailure() << "error kind " << static_cast<int>(error->kind) << " ("
                                         << error->what << "), expected " << static_cast<int>(kind);
  }
  return ::testing::AssertionSuccess();
}

std::string extOf(const json& entry) { return entry.value("ext", ""); }

// ---- message codec ----

class MessageCodecVector : public ::testing::TestWithParam<json> {};

// Catches any byte-level difference from Flutter's encoders (sizes, padding,
// integer width, UTF-8) and any value the decoder gets wrong.
TEST_P(MessageCodecVector, EncodesToAndDecodesFromTheVectorBytes) {
  const json& entry = GetParam();
  if (!vectorPresent(entry)) return;
  StandardMessageCodec codec(serializerFor(entry));
  const std::vector<uint8_t> bytes = hexBytes(entry.at("hex"));
  const std::string mode = entry.value("mode", "");
  if (mode.empty()) {
    EXPECT_TRUE(sameBytes(codec.encodeMessage(fromJson(entry.at("value"), extOf(entry))), bytes));
  } else if (mode != "decode_only") {
    badVector("mode '" + mode + "'");
  }
  auto decoded = codec.decodeMessage(bytes);
  const auto* error = std::get_if<CodecError>(&decoded);
  ASSERT_EQ(error, nullptr) << error->what << " at " << error->offset;
  EXPECT_TRUE(matches(std::get<EncodableValue>(decoded), entry.at("value"), extOf(entry)));
}

INSTANTIATE_TEST_SUITE_P(Vectors, MessageCodecVector,
                         ::testing::ValuesIn(sectionVectors("message_codec")), testName);

class MessageCodecRejectVector : public ::testing::TestWithParam<json> {};

// Catches a decoder that accepts, or misclassifies, bytes Flutter's decoders reject.
TEST_P(MessageCodecRejectVector, RejectsWithTheVectorError) {
  const json& entry = GetParam();
  if (!vectorPresent(entry)) return;
  StandardMessageCodec codec(serializerFor(entry));
  EXPECT_TRUE(failsWith(codec.decodeMessage(hexBytes(entry.at("hex"))), errorKind(entry)));
}

INSTANTIATE_TEST_SUITE_P(Vectors, MessageCodecRejectVector,
                         ::testing::ValuesIn(sectionVectors("message_codec_rejects")), testName);

// ---- method codec ----

class MethodCodecVector : public ::testing::TestWithParam<json> {};

// Catches method-call and envelope bytes that differ from Flutter's, and
// replies decoded into the wrong kind or fields.
TEST_P(MethodCodecVector, EncodesToAndDecodesFromTheVectorBytes) {
  const json& entry = GetParam();
  if (!vectorPresent(entry)) return;
  StandardMethodCodec codec(serializerFor(entry));
  const std::vector<uint8_t> bytes = hexBytes(entry.at("hex"));
  const std::string kind = entry.at("kind").get<std::string>();
  const std::string ext = extOf(entry);

  if (kind == "method_call") {
    FlutterMethodCall call{entry.at("method").get<std::string>(), fromJson(entry.at("args"), ext)};
    EXPECT_TRUE(sameBytes(codec.encodeMethodCall(call), bytes));
    auto decoded = codec.decodeMethodCall(bytes);
    ASSERT_TRUE(std::holds_alternative<FlutterMethodCall>(decoded));
    EXPECT_EQ(std::get<FlutterMethodCall>(decoded).method, call.method);
    EXPECT_TRUE(matches(std::get<FlutterMethodCall>(decoded).arguments, entry["args"], ext));
    return;
  }

  FlutterResultValue reply;
  if (kind == "success") {
    reply = fromJson(entry.at("result"), ext);
    EXPECT_TRUE(sameBytes(codec.encodeSuccessEnvelope(std::get<EncodableValue>(reply)), bytes));
  } else if (kind == "error") {
    FlutterError error{entry.at("code").get<std::string>(), std::nullopt,
                       fromJson(entry.at("details"), ext)};
    if (!entry.at("message").is_null()) error.message = entry["message"].get<std::string>();
    reply = error;
    EXPECT_TRUE(sameBytes(codec.encodeErrorEnvelope(error), bytes));
  } else if (kind == "not_implemented") {
    reply = FlutterMethodNotImplemented;
  } else {
    badVector("kind '" + kind + "'");
  }
  EXPECT_TRUE(sameBytes(codec.encodeResult(reply), bytes));

  auto decoded = codec.decodeEnvelope(bytes);
  const auto* failure = std::get_if<CodecError>(&decoded);
  ASSERT_EQ(failure, nullptr) << failure->what << " at " << failure->offset;
  const MethodEnvelope& envelope = std::get<MethodEnvelope>(decoded);
  ASSERT_EQ(envelope.index(), reply.index()) << "decoded as the wrong kind of reply";
  if (kind == "success") {
    EXPECT_TRUE(matches(std::get<EncodableValue>(envelope), entry["result"], ext));
  } else if (kind == "error") {
    const auto& got = std::get<FlutterError>(envelope);
    const auto& want = std::get<FlutterError>(reply);
    EXPECT_EQ(got.code, want.code);
    EXPECT_EQ(got.message, want.message);
    EXPECT_TRUE(matches(got.details, entry["details"], ext));
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, MethodCodecVector,
                         ::testing::ValuesIn(sectionVectors("method_codec")), testName);

class MethodCodecRejectVector : public ::testing::TestWithParam<json> {};

EnvelopeOptions optionsOf(const json& entry) {
  EnvelopeOptions options;
  const json given = entry.value("options", json::object());
  for (const auto& [key, value] : given.items()) {
    if (key == "empty_reply_is_not_implemented") {
      options.emptyReplyIsNotImplemented = value.get<bool>();
    } else if (key == "allow_stacktrace") {
      options.allowStacktrace = value.get<bool>();
    } else {
      badVector("option '" + key + "'");
    }
  }
  return options;
}

// Catches method calls and envelopes accepted or misclassified where Flutter's
// decoders reject them, under the decoder switches each vector names.
TEST_P(MethodCodecRejectVector, RejectsWithTheVectorError) {
  const json& entry = GetParam();
  if (!vectorPresent(entry)) return;
  StandardMethodCodec codec(serializerFor(entry));
  const std::vector<uint8_t> bytes = hexBytes(entry.at("hex"));
  const std::string op = entry.at("op").get<std::string>();
  if (op == "decode_method_call") {
    if (entry.contains("options")) badVector("options on a method call");
    EXPECT_TRUE(failsWith(codec.decodeMethodCall(bytes), errorKind(entry)));
  } else if (op == "decode_envelope") {
    EXPECT_TRUE(failsWith(codec.decodeEnvelope(bytes, optionsOf(entry)), errorKind(entry)));
  } else {
    badVector("op '" + op + "'");
  }
}

INSTANTIATE_TEST_SUITE_P(Vectors, MethodCodecRejectVector,
                         ::testing::ValuesIn(sectionVectors("method_codec_rejects")), testName);

// Catches a vector file that is missing, unreadable or has lost a section, or
// names that would collide as test names (which would hide a vector).
TEST(CodecVectorsFile, HasEverySectionWithUniqueNames) {
  const json& all = allVectors();
  ASSERT_TRUE(all.is_object()) << "cannot read " << vectorsPath();
  for (const char* section : kSections) {
    ASSERT_TRUE(all.contains(section) && all[section].is_array()) << section;
    EXPECT_FALSE(all[section].empty()) << section;
    std::set<std::string> names;
    for (const json& entry : all[section]) {
      ::testing::TestParamInfo<json> info(entry, 0);
      EXPECT_TRUE(names.insert(testName(info)).second) << "duplicate name in " << section;
    }
  }
}

}  // namespace
}  // namespace korvane
