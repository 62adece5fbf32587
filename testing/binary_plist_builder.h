// Builds binary property lists ("bplist00") byte by byte for tests,
// including ones no writer produces: objects shared by many references,
// reference cycles, references and offsets out of bounds, odd trailers.
// Thread: the test's own.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane::testing {

class BinaryPlistBuilder {
 public:
  // `refSize`: bytes per object reference in arrays and dictionaries (1-8).
  explicit BinaryPlistBuilder(unsigned refSize = 1) : refSize_(refSize) {}

  // Each adds one object and returns its index. References are plain
  // indexes, so they may name objects added later, or none at all.
  uint64_t string(std::string_view ascii) {
    return add(0x5, ascii.size(), {ascii.begin(), ascii.end()});
  }
  uint64_t utf16(std::u16string_view text) {
    std::vector<uint8_t> units;
    for (char16_t unit : text) put(units, unit, 2);
    return add(0x6, text.size(), units);
  }
  uint64_t integer(uint64_t value) {  // 8 bytes
    std::vector<uint8_t> object{0x13};
    put(object, value, 8);
    return raw(object);
  }
  uint64_t boolean(bool value) { return raw({value ? uint8_t{0x09} : uint8_t{0x08}}); }
  uint64_t data(size_t size, uint8_t fill) {
    return add(0x4, size, std::vector<uint8_t>(size, fill));
  }
  uint64_t array(const std::vector<uint64_t>& items) { return add(0xA, items.size(), refs(items)); }
  uint64_t dict(const std::vector<std::pair<uint64_t, uint64_t>>& entries) {
    std::vector<uint64_t> keysThenValues;
    for (const auto& entry : entries) keysThenValues.push_back(entry.first);
    for (const auto& entry : entries) keysThenValues.push_back(entry.second);
    return add(0xD, entries.size(), refs(keysThenValues));
  }
  // Any bytes, taken as one object.
  uint64_t raw(std::vector<uint8_t> object) {
    objects_.push_back(std::move(object));
    return objects_.size() - 1;
  }

  uint64_t count() const { return objects_.size(); }

  // The trailer's fields, to read or forge.
  struct Trailer {
    uint8_t offsetSize;
    uint8_t refSize;
    uint64_t objectCount;
    uint64_t topObject;
    uint64_t tableOffset;
  };

  // The whole list with `top` as its root; offsets take the fewest bytes
  // that hold the largest one, or `offsetSize` bytes when given.
  std::vector<uint8_t> finish(uint64_t top, unsigned offsetSize = 0) const {
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
    for (uint64_t offset : offsets) put(out, offset, offsetSize);
    out.resize(out.size() + 32);
    setTrailer(out, {static_cast<uint8_t>(offsetSize), static_cast<uint8_t>(refSize_),
                     objects_.size(), top, tableOffset});
    return out;
  }

  static Trailer trailerOf(const std::vector<uint8_t>& list) {
    const uint8_t* t = list.data() + list.size() - 32;
    return {t[6], t[7], get(t + 8), get(t + 16), get(t + 24)};
  }
  static void setTrailer(std::vector<uint8_t>& list, const Trailer& trailer) {
    std::vector<uint8_t> t(6, 0);
    t.push_back(trailer.offsetSize);
    t.push_back(trailer.refSize);
    for (uint64_t field : {trailer.objectCount, trailer.topObject, trailer.tableOffset})
      put(t, field, 8);
    std::copy(t.begin(), t.end(), list.end() - 32);
  }

 private:
  static void put(std::vector<uint8_t>& out, uint64_t value, unsigned width) {
    for (unsigned i = width; i-- > 0;) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  static uint64_t get(const uint8_t* p) {  // 8 bytes, big-endian
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = value << 8 | p[i];
    return value;
  }
  // A marker of `type` with `count` (in the marker, or as an integer after
  // it when 15 or more), then `body`.
  uint64_t add(uint8_t type, uint64_t count, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> object{static_cast<uint8_t>(type << 4 | std::min<uint64_t>(count, 0xF))};
    if (count >= 0xF) {
      const unsigned log = count <= 0xFF ? 0 : count <= 0xFFFF ? 1 : count <= 0xFFFFFFFF ? 2 : 3;
      object.push_back(static_cast<uint8_t>(0x10 | log));
      put(object, count, 1u << log);
    }
    object.insert(object.end(), body.begin(), body.end());
    return raw(std::move(object));
  }
  std::vector<uint8_t> refs(const std::vector<uint64_t>& items) const {
    std::vector<uint8_t> out;
    for (uint64_t item : items) put(out, item, refSize_);
    return out;
  }

  unsigned refSize_;
  std::vector<std::vector<uint8_t>> objects_;
};

}  // namespace korvane::testing
