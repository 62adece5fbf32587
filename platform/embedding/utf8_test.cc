#include "platform/embedding/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane {
namespace {

bool valid(const std::string& s) {
  return isValidUtf8({reinterpret_cast<const uint8_t*>(s.data()), s.size()});
}

// Catches overlongs, surrogates, code points above U+10FFFF and cut-off
// sequences slipping through, and the edges of each range being refused.
TEST(Utf8Test, AcceptsExactlyWellFormedSequences) {
  struct Case {
    const char* bytes;
    bool valid;
  };
  const Case cases[] = {
      {"", true},
      {"plain ascii", true},
      {"\xC2\x80", true},           // U+0080
      {"\xDF\xBF", true},           // U+07FF
      {"\xE0\xA0\x80", true},       // U+0800
      {"\xED\x9F\xBF", true},       // U+D7FF
      {"\xEE\x80\x80", true},       // U+E000
      {"\xEF\xBF\xBF", true},       // U+FFFF
      {"\xF0\x90\x80\x80", true},   // U+10000
      {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
      {"\x80", false},              // lone continuation
      {"\xC0\x80", false},          // overlong NUL
      {"\xC1\xBF", false},          // overlong
      {"\xE0\x9F\xBF", false},      // overlong 3-byte
      {"\xF0\x8F\xBF\xBF", false},  // overlong 4-byte
      {"\xED\xA0\x80", false},      // U+D800
      {"\xED\xBF\xBF", false},      // U+DFFF
      {"\xF4\x90\x80\x80", false},  // U+110000
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"\xE2\x82", false},      // cut off
      {"\xF0\x9F\x98", false},  // cut off
      {"\xE2\x28\xA1", false},  // bad continuation
      {"\xC3\x28", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(valid(c.bytes), c.valid) << ::testing::PrintToString(std::string(c.bytes));
  }
}

// Catches the eight-bytes-at-a-time ASCII path skipping over a bad byte or
// reading past the end, wherever the byte falls.
TEST(Utf8Test, FindsABadByteAtEveryPositionOfAnAsciiRun) {
  for (size_t length = 1; length < 40; ++length) {
    for (size_t at = 0; at < length; ++at) {
      std::string s(length, 'a');
      s[at] = '\x80';
      EXPECT_FALSE(valid(s)) << "length " << length << " at " << at;
      s[at] = '\xC2';
      EXPECT_FALSE(valid(s)) << "length " << length << " at " << at;  // continuation missing
    }
    EXPECT_TRUE(valid(std::string(length, 'a')));
  }
}

}  // namespace
}  // namespace korvane
