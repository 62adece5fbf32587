// What a decode of hostile bytes allocates. This file replaces the global
// operator new of the codec test program to count the bytes requested while a
// decode runs.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/embedding/standard_message_codec.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<size_t> requested{0};
std::atomic<size_t> largest{0};

void* allocate(size_t size) {
  if (counting.load(std::memory_order_relaxed)) {
    requested += size;
    size_t seen = largest.load();
    while (size > seen && !largest.compare_exchange_weak(seen, size)) {
    }
  }
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void* operator new(size_t size) {
  if (void* p = allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace korvane {
namespace {

struct Allocations {
  size_t total;
  size_t largest;
};

Allocations decodeCounting(std::span<const uint8_t> input) {
  requested = 0;
  largest = 0;
  counting = true;
  {
    auto result = StandardMessageCodec().decodeMessage(input);
    counting = false;
  }
  return {requested.load(), largest.load()};
}

std::vector<uint8_t> header(uint8_t type, uint32_t count) {
  std::vector<uint8_t> out = {type, 0xff, 0, 0, 0, 0};
  std::memcpy(out.data() + 2, &count, sizeof count);
  return out;
}

// Catches a size field trusted before it is checked: a claimed 4 GiB string,
// list or map in a few bytes must not be reserved.
TEST(DecodeAllocationTest, HugeSizesInShortInputAllocateNothingLarge) {
  for (int type = 0x07; type <= 0x0e; ++type) {
    std::vector<uint8_t> input = header(static_cast<uint8_t>(type), 0xffffffffu);
    input.insert(input.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const Allocations a = decodeCounting(input);
    EXPECT_LT(a.largest, 1024u) << "type " << type;
  }
}

// Catches reservations that multiply with nesting: every list claims as many
// elements as bytes remain after it, 127 levels deep. Each count passes its
// own check, so only the shared allowance keeps the total near the input size.
TEST(DecodeAllocationTest, NestedHostileCountsAllocateInProportionToTheInput) {
  constexpr size_t kPayload = 64 * 1024;
  constexpr size_t kLevels = kMaxNestingDepth - 1;
  std::vector<uint8_t> input;
  for (size_t level = 0; level < kLevels; ++level) {
    const size_t after = (kLevels - level - 1) * 6 + kPayload;
    auto h = header(0x0c, static_cast<uint32_t>(after));
    input.insert(input.end(), h.begin(), h.end());
  }
  input.insert(input.end(), kPayload, 0x00);

  const Allocations a = decodeCounting(input);
  // A list slot is sizeof(EncodableValue) bytes; one full reservation plus the
  // growth of the innermost list is a few times that per input byte.
  EXPECT_LT(a.total, 4 * sizeof(EncodableValue) * input.size());
}

}  // namespace
}  // namespace korvane
