#include "platform/embedding/standard_codec_serializer.h"

#include <type_traits>
#include <utility>

#include "platform/embedding/utf8.h"

namespace korvane {

namespace {

// The type bytes of the standard message codec.
enum Type : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // obsolete hexadecimal string; read as a string, never written
  kFloat64 = 6,
  kString = 7,
  kUint8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

template <class T>
void writeTypedList(const std::vector<T>& list, uint8_t type, ByteStreamWriter& out) {
  out.writeByte(type);
  out.writeSize(list.size());
  if constexpr (sizeof(T) > 1) out.writeAlignment(sizeof(T));
  out.writeBytes(list.data(), list.size() * sizeof(T));
}

bool fail(const ByteStreamReader& in, CodecError& error, CodecErrorKind kind, const char* what) {
  error = in.error(kind, what);
  return false;
}

// Counts one more enclosing container for as long as it lives.
class NestingScope {
 public:
  explicit NestingScope(ByteStreamReader& in) : in_(in) {
    in_.setNestingDepth(in_.nestingDepth() + 1);
  }
  ~NestingScope() { in_.setNestingDepth(in_.nestingDepth() - 1); }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;

  bool tooDeep() const { return in_.nestingDepth() > kMaxNestingDepth; }

 private:
  ByteStreamReader& in_;
};

}  // namespace

const StandardCodecSerializer& StandardCodecSerializer::instance() {
  static const StandardCodecSerializer serializer;
  return serializer;
}

void StandardCodecSerializer::writeString(std::string_view s, ByteStreamWriter& out) const {
  out.writeByte(kString);
  out.writeSize(s.size());
  out.writeBytes(s.data(), s.size());
}

void StandardCodecSerializer::writeValue(const EncodableValue& value, ByteStreamWriter& out) const {
  switch (value.index()) {
    case 0:  // std::monostate
      out.writeByte(kNull);
      return;
    case 1:  // bool
      out.writeByte(*std::get_if<bool>(&value) ? kTrue : kFalse);
      return;
    case 2:  // int32_t
      out.writeByte(kInt32);
      out.writeInt32(*std::get_if<int32_t>(&value));
      return;
    case 3:  // int64_t
      out.writeByte(kInt64);
      out.writeInt64(*std::get_if<int64_t>(&value));
      return;
    case 4:  // double
      out.writeByte(kFloat64);
      out.writeAlignment(sizeof(double));
      out.writeDouble(*std::get_if<double>(&value));
      return;
    case 5:  // std::string
      writeString(*std::get_if<std::string>(&value), out);
      return;
    case 6:
      writeTypedList(*std::get_if<std::vector<uint8_t>>(&value), kUint8List, out);
      return;
    case 7:
      writeTypedList(*std::get_if<std::vector<int32_t>>(&value), kInt32List, out);
      return;
    case 8:
      writeTypedList(*std::get_if<std::vector<int64_t>>(&value), kInt64List, out);
      return;
    case 9:
      writeTypedList(*std::get_if<std::vector<double>>(&value), kFloat64List, out);
      return;
    case 10: {
      const auto& list = *std::get_if<EncodableList>(&value);
      out.writeByte(kList);
      out.writeSize(list.size());
      for (const EncodableValue& element : list) writeValue(element, out);
      return;
    }
    case 11: {
      const auto& map = *std::get_if<EncodableMap>(&value);
      out.writeByte(kMap);
      out.writeSize(map.size());
      for (const auto& [key, element] : map) {
        writeValue(key, out);
        writeValue(element, out);
      }
      return;
    }
    case 12:
      if (!writeCustomValue(*std::get_if<CustomEncodableValue>(&value), out)) {
        out.writeByte(kNull);
      }
      return;
    case 13:
      writeTypedList(*std::get_if<std::vector<float>>(&value), kFloat32List, out);
      return;
  }
  static_assert(std::variant_size_v<EncodableValueVariant> == 14,
                "a new EncodableValue alternative needs its case above");
}

bool StandardCodecSerializer::readValue(ByteStreamReader& in, EncodableValue& out,
                                        CodecError& error) const {
  uint8_t type = 0;
  if (!in.readByte(type)) return fail(in, error, CodecErrorKind::truncated, "value expected");
  switch (type) {
    case kNull:
      out.emplace<std::monostate>();
      return true;
    case kTrue:
    case kFalse:
      out.emplace<bool>(type == kTrue);
      return true;
    case kInt32: {
      int32_t v = 0;
      if (!in.readInt32(v)) return fail(in, error, CodecErrorKind::truncated, "int32 cut off");
      out.emplace<int32_t>(v);
      return true;
    }
    case kInt64: {
      int64_t v = 0;
      if (!in.readInt64(v)) return fail(in, error, CodecErrorKind::truncated, "int64 cut off");
      out.emplace<int64_t>(v);
      return true;
    }
    case kFloat64: {
      double v = 0;
      if (!in.readAlignment(sizeof v) || !in.readDouble(v)) {
        return fail(in, error, CodecErrorKind::truncated, "float64 cut off");
      }
      out.emplace<double>(v);
      return true;
    }
    case kString:
    case kLargeInt:
      return readString(in, out, error);
    case kUint8List:
      return readTypedList<uint8_t>(in, out, error);
    case kInt32List:
      return readTypedList<int32_t>(in, out, error);
    case kInt64List:
      return readTypedList<int64_t>(in, out, error);
    case kFloat64List:
      return readTypedList<double>(in, out, error);
    case kFloat32List:
      return readTypedList<float>(in, out, error);
    case kList:
      return readList(in, out, error);
    case kMap:
      return readMap(in, out, error);
    default: {
      NestingScope scope(in);
      if (scope.tooDeep()) return fail(in, error, CodecErrorKind::malformed, "nested too deeply");
      return readValueOfType(type, in, out, error);
    }
  }
}

bool StandardCodecSerializer::readString(ByteStreamReader& in, EncodableValue& out,
                                         CodecError& error) const {
  uint32_t size = 0;
  std::span<const uint8_t> bytes;
  if (!in.readSize(size) || !in.readView(size, bytes)) {
    return fail(in, error, CodecErrorKind::truncated, "string cut off");
  }
  if (!isValidUtf8(bytes)) return fail(in, error, CodecErrorKind::malformed, "string not UTF-8");
  out.emplace<std::string>(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return true;
}

template <class T>
bool StandardCodecSerializer::readTypedList(ByteStreamReader& in, EncodableValue& out,
                                            CodecError& error) const {
  uint32_t count = 0;
  if (!in.readSize(count) || !in.readAlignment(sizeof(T)) || count > in.remaining() / sizeof(T)) {
    return fail(in, error, CodecErrorKind::truncated, "typed list cut off");
  }
  auto& list = out.emplace<std::vector<T>>(count);
  in.readBytes(list.data(), count * sizeof(T));
  return true;
}

bool StandardCodecSerializer::readList(ByteStreamReader& in, EncodableValue& out,
                                       CodecError& error) const {
  NestingScope scope(in);
  if (scope.tooDeep()) return fail(in, error, CodecErrorKind::malformed, "nested too deeply");
  uint32_t count = 0;
  // Each element takes at least its type byte.
  if (!in.readSize(count) || count > in.remaining()) {
    return fail(in, error, CodecErrorKind::truncated, "list cut off");
  }
  auto& list = out.emplace<EncodableList>();
  list.reserve(in.reservableSlots(count));
  for (uint32_t i = 0; i < count; ++i) {
    if (!readValue(in, list.emplace_back(), error)) return false;
  }
  return true;
}

bool StandardCodecSerializer::readMap(ByteStreamReader& in, EncodableValue& out,
                                      CodecError& error) const {
  NestingScope scope(in);
  if (scope.tooDeep()) return fail(in, error, CodecErrorKind::malformed, "nested too deeply");
  uint32_t count = 0;
  // Each entry takes at least the type bytes of its key and value.
  if (!in.readSize(count) || count > in.remaining() / 2) {
    return fail(in, error, CodecErrorKind::truncated, "map cut off");
  }
  auto& map = out.emplace<EncodableMap>();
  map.reserve(in.reservableSlots(size_t{count} * 2) / 2);
  for (uint32_t i = 0; i < count; ++i) {
    EncodableMap::Entry& entry = map.appendEntry();
    if (!readValue(in, entry.first, error) || !readValue(in, entry.second, error)) return false;
  }
  return true;
}

bool StandardCodecSerializer::writeCustomValue(const CustomEncodableValue& /*value*/,
                                               ByteStreamWriter& /*out*/) const {
  return false;
}

bool StandardCodecSerializer::readValueOfType(uint8_t /*type*/, ByteStreamReader& in,
                                              EncodableValue& /*out*/, CodecError& error) const {
  error = in.error(CodecErrorKind::unknownType, "unknown type byte");
  error.offset -= 1;  // at the type byte itself
  return false;
}

}  // namespace korvane
