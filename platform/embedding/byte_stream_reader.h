// Bounds-checked reading of one encoded message, for the standard codec and
// its custom-type extensions.
//
// Thread: the decoding thread. A reader is the state of one decode and is not
// shared; the bytes it reads must outlive it and stay unchanged.
//
// Every read either succeeds completely or returns false and consumes nothing,
// so a caller can tell "truncated" apart from a bad value. Offsets are counted
// from the start of the message, which is where alignment padding is measured.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "platform/embedding/codec_result.h"

namespace korvane {

static_assert(std::endian::native == std::endian::little,
              "the codec reads and writes its numbers in host order");

class ByteStreamReader {
 public:
  // `bytes` is the message, or a part of it that starts `baseOffset` bytes
  // into the message (alignment and offsets stay those of the whole message).
  explicit ByteStreamReader(std::span<const uint8_t> bytes, size_t baseOffset = 0)
      : data_(bytes), base_(baseOffset), reserveBudget_(bytes.size()) {}

  // The position in the message (baseOffset + bytes read).
  size_t offset() const { return base_ + pos_; }
  size_t remaining() const { return data_.size() - pos_; }
  bool atEnd() const { return pos_ == data_.size(); }

  bool readByte(uint8_t& out) {
    if (pos_ >= data_.size()) return false;
    out = data_[pos_++];
    return true;
  }
  bool readInt32(int32_t& out) { return readRaw(&out, sizeof out); }
  bool readInt64(int64_t& out) { return readRaw(&out, sizeof out); }
  bool readDouble(double& out) { return readRaw(&out, sizeof out); }
  // Copies the next n bytes to `out`.
  bool readBytes(void* out, size_t n) { return readRaw(out, n); }
  // The next n bytes, in place (valid as long as the input is).
  bool readView(size_t n, std::span<const uint8_t>& out) {
    if (n > remaining()) return false;
    out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
  }

  // A size prefix: one byte below 254; 254 and 16 bits; 255 and 32 bits.
  bool readSize(uint32_t& out) {
    if (pos_ < data_.size() && data_[pos_] < kSize16) {
      out = data_[pos_++];
      return true;
    }
    return readLongSize(out);
  }

  // Skips the padding that brings offset() to a multiple of `alignment`.
  bool readAlignment(size_t alignment) {
    const size_t mod = offset() % alignment;
    if (mod == 0) return true;
    const size_t pad = alignment - mod;
    if (pad > remaining()) return false;
    pos_ += pad;
    return true;
  }

  // Decode state that travels with the stream so that it also spans custom
  // extensions: how many containers enclose the value being read.
  int nestingDepth() const { return depth_; }
  void setNestingDepth(int depth) { depth_ = depth; }

  // How many of `count` container slots (list elements, map keys and values)
  // may be reserved ahead of reading them. A well-formed message spends at
  // least one byte per value, so all its containers together never need more
  // slots than the message has bytes; hostile nested counts get nothing once
  // that allowance is spent, which keeps reservations proportional to the
  // input.
  size_t reservableSlots(size_t count) {
    if (count > reserveBudget_) return 0;
    reserveBudget_ -= count;
    return count;
  }

  // An error at the current position.
  CodecError error(CodecErrorKind kind, std::string what) const {
    return CodecError{kind, offset(), std::move(what)};
  }

 private:
  static constexpr uint8_t kSize16 = 254;  // then 16 bits; 255: then 32 bits

  bool readLongSize(uint32_t& out);
  bool readRaw(void* out, size_t n) {
    if (n > remaining()) return false;
    if (n != 0) std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
    return true;
  }

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  size_t base_;
  size_t reserveBudget_;
  int depth_ = 0;
};

}  // namespace korvane
