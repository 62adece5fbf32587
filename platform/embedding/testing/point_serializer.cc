#include "platform/embedding/testing/point_serializer.h"

namespace korvane::testing {

const PointSerializer& PointSerializer::instance() {
  static const PointSerializer serializer;
  return serializer;
}

bool PointSerializer::writeCustomValue(const CustomEncodableValue& value,
                                       ByteStreamWriter& out) const {
  const auto* point = std::any_cast<Point>(&value.value());
  if (point == nullptr) return false;
  out.writeByte(kType);
  out.writeInt32(point->x);
  out.writeInt32(point->y);
  return true;
}

bool PointSerializer::readValueOfType(uint8_t type, ByteStreamReader& in, EncodableValue& out,
                                      CodecError& error) const {
  if (type != kType) return StandardCodecSerializer::readValueOfType(type, in, out, error);
  Point point;
  if (!in.readInt32(point.x) || !in.readInt32(point.y)) {
    error = in.error(CodecErrorKind::truncated, "point cut off");
    return false;
  }
  out.emplace<CustomEncodableValue>(point);
  return true;
}

}  // namespace korvane::testing
