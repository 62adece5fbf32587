#include "platform/embedding/byte_stream.h"

#include <algorithm>
#include <cassert>
#include <limits>

namespace korvane {

namespace {
constexpr uint8_t kSize16 = 254;  // then the size as 16 bits
constexpr uint8_t kSize32 = 255;  // then the size as 32 bits
}  // namespace

bool ByteStreamReader::readLongSize(uint32_t& out) {
  const size_t start = pos_;
  uint8_t first = 0;
  if (!readByte(first)) return false;
  if (first == kSize16) {
    uint16_t v = 0;
    if (!readRaw(&v, sizeof v)) {
      pos_ = start;
      return false;
    }
    out = v;
    return true;
  }
  uint32_t v = 0;
  if (!readRaw(&v, sizeof v)) {
    pos_ = start;
    return false;
  }
  out = v;
  return true;
}

void ByteStreamWriter::grow(size_t n) {
  // At least double, so that appending stays linear overall.
  buffer_->resize(std::max({end_ + n, buffer_->size() * 2, size_t{256}}));
}

void ByteStreamWriter::writeLongSize(size_t size) {
  assert(size <= std::numeric_limits<uint32_t>::max());
  if (size <= std::numeric_limits<uint16_t>::max()) {
    const auto v = static_cast<uint16_t>(size);
    uint8_t* p = room(1 + sizeof v);
    p[0] = kSize16;
    std::memcpy(p + 1, &v, sizeof v);
  } else {
    const auto v = static_cast<uint32_t>(size);
    uint8_t* p = room(1 + sizeof v);
    p[0] = kSize32;
    std::memcpy(p + 1, &v, sizeof v);
  }
}

}  // namespace korvane
