// Appending an encoded message to a byte buffer, for the standard codec and
// its custom-type extensions.
//
// Thread: the encoding thread. A writer and its buffer belong to one encode.
//
// Alignment padding is counted from the start of the buffer, so a buffer that
// already holds an envelope byte keeps the padding of the whole reply right.
//
// For speed the writer grows the buffer ahead of what it has written: while
// it lives the buffer may end in spare zero bytes, which its destructor cuts
// off. Read the buffer only after the writer is gone.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace korvane {

static_assert(std::endian::native == std::endian::little,
              "the codec reads and writes its numbers in host order");

class ByteStreamWriter {
 public:
  explicit ByteStreamWriter(std::vector<uint8_t>& buffer) : buffer_(&buffer), end_(buffer.size()) {}
  ~ByteStreamWriter() { buffer_->resize(end_); }
  ByteStreamWriter(const ByteStreamWriter&) = delete;
  ByteStreamWriter& operator=(const ByteStreamWriter&) = delete;

  // The position in the message: the bytes in the buffer so far.
  size_t offset() const { return end_; }

  void writeByte(uint8_t byte) { *room(1) = byte; }
  void writeInt32(int32_t v) { std::memcpy(room(sizeof v), &v, sizeof v); }
  void writeInt64(int64_t v) { std::memcpy(room(sizeof v), &v, sizeof v); }
  void writeDouble(double v) { std::memcpy(room(sizeof v), &v, sizeof v); }
  void writeBytes(const void* data, size_t n) {
    if (n != 0) std::memcpy(room(n), data, n);
  }

  // A size prefix: one byte below 254; 254 and 16 bits up to 65535; 255 and
  // 32 bits above. Sizes beyond 32 bits cannot be encoded.
  void writeSize(size_t size) {
    if (size < 254) {
      writeByte(static_cast<uint8_t>(size));
    } else {
      writeLongSize(size);
    }
  }

  // Zero bytes up to a multiple of `alignment` from the buffer's start.
  void writeAlignment(size_t alignment) {
    const size_t mod = end_ % alignment;
    if (mod != 0) std::memset(room(alignment - mod), 0, alignment - mod);
  }

 private:
  // The next n bytes of the buffer, now counted as written.
  uint8_t* room(size_t n) {
    if (buffer_->size() - end_ < n) grow(n);
    uint8_t* p = buffer_->data() + end_;
    end_ += n;
    return p;
  }
  void grow(size_t n);
  void writeLongSize(size_t size);

  std::vector<uint8_t>* buffer_;
  size_t end_;
};

}  // namespace korvane
