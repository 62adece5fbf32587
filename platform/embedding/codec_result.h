// How a decode fails. Thread: any.
#pragma once

#include <cstddef>
#include <string>
#include <variant>

namespace korvane {

enum class CodecErrorKind {
  truncated,    // the input ends early, or a size exceeds the bytes that remain
  trailing,     // bytes are left after a complete message
  unknownType,  // a reserved or unregistered type byte
  malformed,    // invalid UTF-8, a field of the wrong type, nesting too deep, a bad envelope byte
};

struct CodecError {
  CodecErrorKind kind;
  size_t offset = 0;  // where in the input the decoder stopped
  std::string what;   // a short human-readable reason
};

// Either the decoded T or the reason it could not be decoded.
template <class T>
using DecodeResult = std::variant<T, CodecError>;

}  // namespace korvane
