// Byte vectors written inline in codec tests: bytes({0x07, 0x01, 'a'}).
// Thread: any.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvane::testing {

inline std::vector<uint8_t> bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  out.reserve(list.size());
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

}  // namespace korvane::testing
