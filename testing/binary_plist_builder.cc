#include "testing/binary_plist_builder.h"

namespace korvane::testing {
namespace {

constexpr size_t kTrailerSize = 32;

void appendBigEndian(std::vector<uint8_t>& out, uint64_t value, unsigned width) {
  for (unsigned i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t readBigEndian(const uint8_t* p, unsigned width) {
  uint64_t value = 0;
  for (unsigned i = 0; i < width; ++i) value = (value << 8) | p[i];
  return value;
}

}  // namespace

uint64_t BinaryPlistBuilder::add(std::vector<uint8_t> object) {
  objects_.push_back(std::move(object));
  return objects_.size() - 1;
}

void BinaryPlistBuilder::appendMarker(std::vector<uint8_t>& out, uint8_t type,
                                      uint64_t count) const {
  if (count < 0xF) {
    out.push_back(static_cast<uint8_t>(type << 4 | count));
    return;
  }
  out.push_back(static_cast<uint8_t>(type << 4 | 0xF));
  unsigned widthLog = count <= 0xFF ? 0 : count <= 0xFFFF ? 1 : count <= 0xFFFFFFFF ? 2 : 3;
  out.push_back(static_cast<uint8_t>(0x10 | widthLog));
  appendBigEndian(out, count, 1u << widthLog);
}

void BinaryPlistBuilder::appendRef(std::vector<uint8_t>& out, uint64_t ref) const {
  appendBigEndian(out, ref, refSize_);
}

uint64_t BinaryPlistBuilder::string(std::string_view ascii) {
  std::vector<uint8_t> out;
  appendMarker(out, 0x5, ascii.size());
  out.insert(out.end(), ascii.begin(), ascii.end());
  return add(std::move(out));
}

uint64_t BinaryPlistBuilder::utf16(std::u16string_view text) {
  std::vector<uint8_t> out;
  appendMarker(out, 0x6, text.size());
  for (char16_t unit : text) appendBigEndian(out, unit, 2);
  return add(std::move(out));
}

uint64_t BinaryPlistBuilder::integer(uint64_t value) {
  std::vector<uint8_t> out{0x13};
  appendBigEndian(out, value, 8);
  return add(std::move(out));
}

uint64_t BinaryPlistBuilder::boolean(bool value) {
  return add({value ? uint8_t{0x09} : uint8_t{0x08}});
}

uint64_t BinaryPlistBuilder::data(size_t size, uint8_t fill) {
  std::vector<uint8_t> out;
  appendMarker(out, 0x4, size);
  out.insert(out.end(), size, fill);
  return add(std::move(out));
}

uint64_t BinaryPlistBuilder::array(const std::vector<uint64_t>& items) {
  std::vector<uint8_t> out;
  appendMarker(out, 0xA, items.size());
  for (uint64_t item : items) appendRef(out, item);
  return add(std::move(out));
}

uint64_t BinaryPlistBuilder::dict(const std::vector<std::pair<uint64_t, uint64_t>>& entries) {
  std::vector<uint8_t> out;
  appendMarker(out, 0xD, entries.size());
  for (const auto& entry : entries) appendRef(out, entry.first);
  for (const auto& entry : entries) appendRef(out, entry.second);
  return add(std::move(out));
}

uint64_t BinaryPlistBuilder::raw(std::vector<uint8_t> object) { return add(std::move(object)); }

std::vector<uint8_t> BinaryPlistBuilder::finish(uint64_t top, unsigned offsetSize) const {
  std::vector<uint8_t> out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
  std::vector<uint64_t> offsets;
  for (const auto& object : objects_) {
    offsets.push_back(out.size());
    out.insert(out.end(), object.begin(), object.end());
  }
  if (offsetSize == 0) {
    offsetSize = 1;
    while (offsetSize < 8 && (out.size() >> (8 * offsetSize)) != 0) ++offsetSize;
  }
  const uint64_t tableOffset = out.size();
  for (uint64_t offset : offsets) appendBigEndian(out, offset, offsetSize);
  out.insert(out.end(), kTrailerSize, 0);
  setTrailer(out, Trailer{static_cast<uint8_t>(offsetSize), static_cast<uint8_t>(refSize_),
                          objects_.size(), top, tableOffset});
  return out;
}

BinaryPlistBuilder::Trailer BinaryPlistBuilder::trailerOf(const std::vector<uint8_t>& list) {
  const uint8_t* t = list.data() + list.size() - kTrailerSize;
  return Trailer{t[6], t[7], readBigEndian(t + 8, 8), readBigEndian(t + 16, 8),
                 readBigEndian(t + 24, 8)};
}

void BinaryPlistBuilder::setTrailer(std::vector<uint8_t>& list, const Trailer& trailer) {
  std::vector<uint8_t> t(6, 0);
  t.push_back(trailer.offsetSize);
  t.push_back(trailer.refSize);
  appendBigEndian(t, trailer.objectCount, 8);
  appendBigEndian(t, trailer.topObject, 8);
  appendBigEndian(t, trailer.tableOffset, 8);
  std::copy(t.begin(), t.end(), list.end() - kTrailerSize);
}

}  // namespace korvane::testing
