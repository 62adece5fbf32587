#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <ostream>

#include "platform/linux/files/property_list_check.h"
#include "testing/binary_plist_builder.h"

namespace korvane {

void PrintTo(PropertyListCheck check, std::ostream* out) {
  static const char* const kNames[] = {"ok",           "malformed",    "tooDeep",
                                       "tooManyNodes", "tooManyBytes", "cycle"};
  *out << kNames[static_cast<int>(check)];
}

namespace {

using Builder = testing::BinaryPlistBuilder;
using Bytes = std::vector<uint8_t>;

Bytes smallDict() {
  Builder b;
  const uint64_t top = b.dict({{1, 2}, {3, 4}});
  b.string("CFBundleIdentifier");
  b.string("org.example.app");
  b.string("CFBundleVersion");
  b.string("42");
  return b.finish(top);
}

// Every object type the parser accepts, nested once in an array and a set.
Bytes everyType() {
  Builder b;
  const uint64_t top = b.dict({{1, 2}, {3, 4}});
  b.string("k");
  b.array({5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
  b.utf16(u"k2");
  b.raw({0xC2, 5, 6});                                            // a set
  b.integer(7);                                                   // 5
  b.boolean(true);                                                // 6
  b.data(3, 0xAB);                                                // 7
  b.raw({0x23, 0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18});  // real 3.14159
  b.raw({0x33, 0x41, 0xC0, 0, 0, 0, 0, 0, 0});                    // date
  b.raw({0x80, 0x05});                                            // UID
  b.raw({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2});  // 16-byte integer
  b.raw({0x22, 0x3F, 0x80, 0, 0});                                // float
  b.string(std::string(20, 'x'));                                 // count in a following integer
  b.boolean(false);
  return b.finish(top);
}

// A chain of `depth` arrays, each holding the next; the last is empty.
Bytes chain(size_t depth, unsigned refSize) {
  Builder b(refSize);
  for (size_t i = 0; i + 1 < depth; ++i) b.array({i + 1});
  b.array({});
  return b.finish(0);
}

Bytes withOffset(Bytes list, uint64_t index, uint64_t offset) {
  const auto trailer = Builder::trailerOf(list);
  const size_t at = trailer.tableOffset + index * trailer.offsetSize;
  for (unsigned i = 0; i < trailer.offsetSize; ++i) {
    list[at + i] = static_cast<uint8_t>(offset >> (8 * (trailer.offsetSize - 1 - i)));
  }
  return list;
}

Bytes withTrailer(Bytes list, const std::function<void(Builder::Trailer&)>& change) {
  auto trailer = Builder::trailerOf(list);
  change(trailer);
  Builder::setTrailer(list, trailer);
  return list;
}

// A root array holding one leaf object, given as raw bytes.
Bytes arrayOf(std::vector<uint8_t> leaf) {
  Builder b;
  b.array({1});
  b.raw(std::move(leaf));
  return b.finish(0);
}

struct Case {
  const char* name;
  std::function<Bytes()> make;
  PropertyListCheck expected;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class BinaryCheck : public ::testing::TestWithParam<Case> {};

// Each case names the fault it would catch.
TEST_P(BinaryCheck, Verdict) {
  EXPECT_EQ(checkBinaryPropertyList(GetParam().make()), GetParam().expected);
}

using C = PropertyListCheck;

INSTANTIATE_TEST_SUITE_P(
    Lists, BinaryCheck,
    ::testing::Values(
        // Good lists refused.
        Case{"SmallDictionary", smallDict, C::ok}, Case{"EveryObjectType", everyType, C::ok},
        Case{"LeafRoot",
             [] {
               Builder b;
               b.string("a");
               return b.finish(0);
             },
             C::ok},
        // Trailer fields trusted.
        Case{"OffsetSizeZero",
             [] { return withTrailer(smallDict(), [](auto& field) { field.offsetSize = 0; }); },
             C::malformed},
        Case{"OffsetSizeNine",
             [] { return withTrailer(smallDict(), [](auto& field) { field.offsetSize = 9; }); },
             C::malformed},
        Case{"RefSizeZero",
             [] { return withTrailer(smallDict(), [](auto& field) { field.refSize = 0; }); },
             C::malformed},
        Case{"RefSizeNine",
             [] { return withTrailer(smallDict(), [](auto& field) { field.refSize = 9; }); },
             C::malformed},
        Case{"NoObjects",
             [] { return withTrailer(smallDict(), [](auto& field) { field.objectCount = 0; }); },
             C::malformed},
        Case{"TopPastObjects",
             [] {
               return withTrailer(smallDict(),
                                  [](auto& field) { field.topObject = field.objectCount; });
             },
             C::malformed},
        Case{"TableInHeader",
             [] { return withTrailer(smallDict(), [](auto& field) { field.tableOffset = 4; }); },
             C::malformed},
        Case{"TablePastEnd",
             [] {
               return withTrailer(smallDict(),
                                  [](auto& field) { field.tableOffset = ~uint64_t{0} - 3; });
             },
             C::malformed},
        Case{"TableRunsIntoTrailer",
             [] { return withTrailer(smallDict(), [](auto& field) { field.objectCount += 1; }); },
             C::malformed},
        Case{"CountOverflowsTableSize",
             [] {
               return withTrailer(smallDict(), [](auto& field) {
                 field.objectCount = uint64_t{1} << 62;
                 field.offsetSize = 8;
               });
             },
             C::malformed},
        Case{"TooShort", [] { return Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0, 0}; },
             C::malformed},
        Case{"OtherVersion",
             [] {
               Bytes b = smallDict();
               b[7] = '1';
               return b;
             },
             C::malformed},
        Case{"CutShort",
             [] {
               Bytes b = smallDict();
               b.pop_back();
               return b;
             },
             C::malformed},
        // Object offsets trusted.
        Case{"OffsetIntoHeader", [] { return withOffset(smallDict(), 2, 3); }, C::malformed},
        Case{"OffsetAtTable",
             [] { return withOffset(smallDict(), 2, Builder::trailerOf(smallDict()).tableOffset); },
             C::malformed},
        Case{"UnreachedOffsetOutside",
             [] {
               Builder b;
               b.array({});
               b.boolean(true);
               return withOffset(b.finish(0), 1, 200);
             },
             C::malformed},
        // Object extents trusted.
        Case{"StringPastTable",
             [] {
               return arrayOf({0x5F, 0x11, 0xFF, 0xFF, 'a'});
             },
             C::malformed},
        Case{"Utf16PastTable",
             [] {
               return arrayOf({0x62, 0, 'a', 0});
             },
             C::malformed},
        Case{"CountNotAnInteger",
             [] {
               return arrayOf({0x5F, 0x21, 0x01, 'a'});
             },
             C::malformed},
        Case{"CountWiderThan8",
             [] {
               return arrayOf({0x5F, 0x14, 0x01, 'a'});
             },
             C::malformed},
        Case{"IntegerPastTable",
             [] {
               return arrayOf({0x13, 1, 2});
             },
             C::malformed},
        Case{"Integer32Bytes",
             [] {
               Bytes o(33, 0);
               o[0] = 0x15;
               return arrayOf(o);
             },
             C::malformed},
        Case{"RealOneByte",
             [] {
               return arrayOf({0x20, 1});
             },
             C::malformed},
        Case{"DateFourBytes",
             [] {
               return arrayOf({0x32, 1, 2, 3, 4});
             },
             C::malformed},
        Case{"Null", [] { return arrayOf({0x00}); }, C::malformed},
        Case{"Fill", [] { return arrayOf({0x0F}); }, C::malformed},
        Case{"Type7",
             [] {
               return arrayOf({0x71, 'a'});
             },
             C::malformed},
        Case{"Type9", [] { return arrayOf({0x90}); }, C::malformed},
        Case{"TypeB", [] { return arrayOf({0xB0}); }, C::malformed},
        Case{"TypeE", [] { return arrayOf({0xE0}); }, C::malformed},
        Case{"TypeF", [] { return arrayOf({0xF0}); }, C::malformed},
        // References trusted.
        Case{"RefPastObjects",
             [] {
               Builder b;
               b.array({1, 5});
               b.boolean(true);
               return b.finish(0);
             },
             C::malformed},
        Case{"RefsRunIntoTable",
             [] {
               Builder b;
               b.raw({0xA5, 0x01});
               b.boolean(true);
               return b.finish(0);
             },
             C::malformed},
        Case{"DictRefsRunIntoTable",
             [] {
               Builder b;
               b.string("k");
               b.raw({0xD2, 0, 0, 0});
               return b.finish(1);
             },
             C::malformed},
        Case{"WideRefPastObjects",
             [] {
               Builder b(8);
               b.array({~uint64_t{0}});
               return b.finish(0);
             },
             C::malformed},
        Case{"IntegerKey",
             [] {
               Builder b;
               b.dict({{1, 2}});
               b.integer(1);
               b.string("v");
               return b.finish(0);
             },
             C::malformed},
        Case{"ArrayKey",
             [] {
               Builder b;
               b.dict({{1, 2}});
               b.array({});
               b.string("v");
               return b.finish(0);
             },
             C::malformed},
        // libplist aborts (an assertion) when handing back a key holding NUL.
        Case{"Utf16KeyWithNul",
             [] {
               Builder b;
               b.dict({{1, 2}});
               b.utf16(std::u16string(u"a\0b", 3));
               b.string("v");
               return b.finish(0);
             },
             C::malformed},
        Case{"Utf16KeyWithLoneSurrogate",
             [] {
               Builder b;
               b.dict({{1, 2}});
               b.utf16(u"a\xD83D");
               b.string("v");
               return b.finish(0);
             },
             C::ok},
        // Cycles followed for ever.
        Case{"SelfCycle",
             [] {
               Builder b;
               b.array({0});
               return b.finish(0);
             },
             C::cycle},
        Case{"TwoObjectCycle",
             [] {
               Builder b;
               b.array({1});
               b.array({0});
               return b.finish(0);
             },
             C::cycle},
        Case{"CycleThroughDictValue",
             [] {
               Builder b;
               b.dict({{1, 2}});
               b.string("k");
               b.array({0});
               return b.finish(0);
             },
             C::cycle},
        // Depth: an off-by-one at the limit, or only the open path counted.
        Case{"Depth512", [] { return chain(512, 2); }, C::ok},
        Case{"Depth513", [] { return chain(513, 2); }, C::tooDeep},
        Case{"Depth100000", [] { return chain(100000, 4); }, C::tooDeep},
        Case{"TallSharedChainReachedDeep",
             [] {
               // root → [c1, d1]; c1..c300 is measured first, then d1..d300
               // leads into c1 again: 601 deep though the walk never holds
               // more than 301 open arrays.
               Builder b(2);
               b.array({1, 301});
               for (uint64_t i = 1; i < 300; ++i) b.array({i + 1});
               b.array({});
               for (uint64_t i = 301; i < 600; ++i) b.array({i + 1});
               b.array({1});
               return b.finish(0);
             },
             C::tooDeep},
        Case{"ChainOfPiecesDeeperThan16Bits",
             [] {
               // 132 pieces of 500 arrays; each piece ends in the previous
               // piece's start, and the root lists the starts in order, so
               // every walk is short but the whole is 66,000 deep (a height
               // kept in 16 bits would wrap to 464).
               constexpr uint64_t kPieces = 132, kLength = 500;
               Builder b(4);
               std::vector<uint64_t> starts;
               for (uint64_t p = 0; p < kPieces; ++p) starts.push_back(1 + p * kLength);
               b.array(starts);
               for (uint64_t p = 0; p < kPieces; ++p) {
                 for (uint64_t i = 0; i + 1 < kLength; ++i) b.array({starts[p] + i + 1});
                 if (p == 0)
                   b.array({});
                 else
                   b.array({starts[p - 1]});
               }
               return b.finish(0);
             },
             C::tooDeep},
        // Expansion of shared objects.
        Case{"ExponentialSharing",
             [] {
               Builder b;
               for (uint64_t i = 0; i < 40; ++i) b.array({i + 1, i + 1});
               b.string("x");
               return b.finish(0);
             },
             C::tooManyNodes},
        Case{"NodesAtLimit",
             [] {
               Builder b(1);
               b.array(std::vector<uint64_t>(kMaxPropertyListNodes - 1, 1));
               b.string("shared");
               return b.finish(0);
             },
             C::ok},
        Case{"NodesPastLimit",
             [] {
               Builder b(1);
               b.array(std::vector<uint64_t>(kMaxPropertyListNodes, 1));
               b.string("shared");
               return b.finish(0);
             },
             C::tooManyNodes},
        Case{"SharedDataTooLarge",
             [] {
               Builder b;
               b.array(std::vector<uint64_t>(30, 1));
               b.data(600000, 0x55);
               return b.finish(0);
             },
             C::tooManyBytes},
        Case{"MoreObjectsThanNodes",
             [] {
               Builder b(4);
               b.array({});
               for (size_t i = 0; i < kMaxPropertyListNodes; ++i) b.boolean(true);
               return b.finish(0);
             },
             C::tooManyNodes}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace korvane
