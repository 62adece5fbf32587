// Reading an application's information property list ("Contents/Info.plist")
// in either form a bundle carries it: XML or binary.
//
// Thread: any; meant for the worker queue. Stateless.
//
// Hostile files are expected: the file is opened without blocking and must be
// a regular file (a FIFO or device reads as unreadable at once), files larger
// than kMaxPropertyListBytes are unreadable, and the bytes are checked before
// they reach the parser (binary: trailer, offset table and every reference in
// bounds, nesting at most kMaxPropertyListDepth, at most kMaxPropertyListNodes
// nodes once shared objects are expanded; XML: nesting depth). Whatever fails
// a check, does not parse, or is not a dictionary reads as unreadable.
//
// Reading follows a final symbolic link to a regular file. A UTF-8 byte-order
// mark before XML is skipped. When a dictionary repeats a key, its last entry
// counts. UTF-16 strings of binary lists come back as UTF-8. Keys and values
// come back whole, NUL bytes included: a value holding a NUL never equals its
// prefix, and a key holding one is a key of its own (never, say,
// "CFBundleIdentifier"); only a UTF-16 key holding U+0000 makes a binary list
// unreadable. An XML list holding a NUL byte is unreadable (XML cannot carry
// U+0000).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace korvane {

inline constexpr size_t kMaxPropertyListBytes = 1024 * 1024;
inline constexpr int kMaxPropertyListDepth = 512;
inline constexpr size_t kMaxPropertyListNodes = 100000;

// The top-level entries of a property-list dictionary whose values are
// strings. Entries of any other type are left out: for the callers they count
// as missing.
using PropertyListStrings = std::map<std::string, std::string>;

// Reads the dictionary in the file at `path`; nullopt when the file is
// missing, not a regular file, too large, fails a check, does not parse, or
// is not a dictionary.
std::optional<PropertyListStrings> readPropertyListStrings(const std::string& path);

// The same for bytes already in memory (the checked parse alone).
std::optional<PropertyListStrings> parsePropertyListStrings(std::span<const uint8_t> bytes);

}  // namespace korvane
