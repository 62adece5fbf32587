// Checks the bytes of a property list before the parser sees them.
//
// The system parser (libplist 2.2) trusts its input too far: it recurses once
// per nesting level of a binary list and frees XML trees recursively, so deep
// nesting overflows the stack, and it expands an object shared by reference
// once per reference, so a few hundred bytes can expand to gigabytes. These
// checks bound what the parser will build:
//
// - binary ("bplist00"): the trailer's fields; the offset table and every
//   offset in it lie between the header and the table; the table lists at
//   most kMaxPropertyListNodes objects; every reachable object's extent and
//   every reference lie in bounds; dictionary keys are strings; no object
//   contains itself; at most kMaxPropertyListDepth nested arrays and
//   dictionaries; at most kMaxPropertyListNodes nodes and
//   kMaxPropertyListExpandedBytes of string and data payload once shared
//   objects are expanded as the parser expands them. Linear in the size of
//   the list: each object is measured once.
// - XML: the tags are tokenised exactly as the parser tokenises them, and
//   the dictionaries and arrays it would build nest at most
//   kMaxPropertyListDepth deep. Where the parser would give up, so does the
//   check.
//
// A list that passes may still fail to parse; one that fails is never parsed.
//
// Thread: any. Stateless.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/property_list.h"

namespace korvane {

// Bytes of strings and data the parser may allocate for one list once shared
// objects are expanded (16 times the largest file).
inline constexpr size_t kMaxPropertyListExpandedBytes = 16 * kMaxPropertyListBytes;

// The outcome of a check: `ok` when the bytes may be handed to the parser.
enum class PropertyListCheck {
  ok,
  malformed,     // out of bounds, an unknown object, a non-string key, broken tags
  tooDeep,       // arrays/dictionaries nested deeper than kMaxPropertyListDepth
  tooManyNodes,  // more than kMaxPropertyListNodes nodes once expanded
  tooManyBytes,  // more than kMaxPropertyListExpandedBytes once expanded
  cycle,         // an object that (indirectly) contains itself
};

// An entry of a binary list's root dictionary whose 8-bit key or value holds
// a NUL byte, which the parser cuts there: the whole text as the file holds
// it (nullopt for a key or value that needs no replacing).
struct WholeTextEntry {
  std::optional<std::string> key;
  std::optional<std::string> value;
};

// Checks a binary property list (the bytes start with "bplist00"). When
// `wholeText` is given and the list passes, it is set to one entry per entry
// of the root dictionary, in the order of the file, if any top-level 8-bit
// key or value holds a NUL byte, and left empty otherwise (nearly always).
PropertyListCheck checkBinaryPropertyList(std::span<const uint8_t> bytes,
                                          std::vector<WholeTextEntry>* wholeText = nullptr);

// Checks an XML property list.
PropertyListCheck checkXmlPropertyList(std::span<const uint8_t> bytes);

}  // namespace korvane
