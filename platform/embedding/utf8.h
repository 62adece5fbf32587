// UTF-8 validation for decoded strings. Thread: any.
#pragma once

#include <cstdint>
#include <span>

namespace korvane {

// Whether `bytes` is well-formed UTF-8: no overlong forms, no surrogates
// (U+D800-U+DFFF), nothing above U+10FFFF, no cut-off sequences.
bool isValidUtf8(std::span<const uint8_t> bytes);

}  // namespace korvane
