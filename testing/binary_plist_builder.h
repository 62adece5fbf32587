// Builds binary property lists ("bplist00") byte by byte for tests,
// including ones no writer produces: objects shared by many references,
// reference cycles, references and offsets out of bounds, odd trailers.
// Thread: the test's own.
#pragma once

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
  uint64_t string(std::string_view ascii);
  uint64_t utf16(std::u16string_view text);
  uint64_t integer(uint64_t value);  // 8 bytes
  uint64_t boolean(bool value);
  uint64_t data(size_t size, uint8_t fill);
  uint64_t array(const std::vector<uint64_t>& items);
  uint64_t dict(const std::vector<std::pair<uint64_t, uint64_t>>& entries);
  uint64_t raw(std::vector<uint8_t> object);  // any bytes, taken as one object

  uint64_t count() const { return objects_.size(); }

  // The whole list with `top` as its root; offsets take the fewest bytes
  // that hold the largest one, or `offsetSize` bytes when given.
  std::vector<uint8_t> finish(uint64_t top, unsigned offsetSize = 0) const;

  // The trailer's fields, to read or forge.
  struct Trailer {
    uint8_t offsetSize;
    uint8_t refSize;
    uint64_t objectCount;
    uint64_t topObject;
    uint64_t tableOffset;
  };
  static Trailer trailerOf(const std::vector<uint8_t>& list);
  static void setTrailer(std::vector<uint8_t>& list, const Trailer& trailer);

 private:
  uint64_t add(std::vector<uint8_t> object);
  void appendMarker(std::vector<uint8_t>& out, uint8_t type, uint64_t count) const;
  void appendRef(std::vector<uint8_t>& out, uint64_t ref) const;

  unsigned refSize_;
  std::vector<std::vector<uint8_t>> objects_;
};

}  // namespace korvane::testing
