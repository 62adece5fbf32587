#include "platform/embedding/byte_stream.h"

#include <gtest/gtest.h>

#include "platform/embedding/testing/byte_list.h"

namespace korvane {
namespace {

using testing::bytes;

// Catches sizes read with the wrong width or value, and a cut-off size that
// consumes part of the input.
TEST(ByteStreamTest, ReadsSizesOrNothing) {
  struct Case {
    std::vector<uint8_t> input;
    std::optional<uint32_t> size;
  };
  const Case cases[] = {
      {bytes({0x00}), 0},
      {bytes({0xfd}), 253},
      {bytes({0xfe, 0xfe, 0x00}), 254},
      {bytes({0xfe, 0xff, 0xff}), 65535},
      {bytes({0xff, 0x00, 0x00, 0x01, 0x00}), 65536},
      {bytes({0xff, 0xff, 0xff, 0xff, 0xff}), 0xffffffffu},
      {bytes({}), std::nullopt},
      {bytes({0xfe, 0xff}), std::nullopt},
      {bytes({0xff, 0x00, 0x00, 0x01}), std::nullopt},
  };
  for (const Case& c : cases) {
    ByteStreamReader reader(c.input);
    uint32_t size = 7;
    EXPECT_EQ(reader.readSize(size), c.size.has_value()) << ::testing::PrintToString(c.input);
    if (c.size) {
      EXPECT_EQ(size, *c.size);
      EXPECT_TRUE(reader.atEnd());
    } else {
      EXPECT_EQ(reader.offset(), 0u) << ::testing::PrintToString(c.input);
    }
  }
}

// Catches reads that run past the end or half-consume their bytes.
TEST(ByteStreamTest, FailedReadsConsumeNothing) {
  const auto input = bytes({1, 2, 3});
  ByteStreamReader reader(input, 1);
  int32_t i32 = 0;
  int64_t i64 = 0;
  double d = 0;
  std::span<const uint8_t> view;
  EXPECT_FALSE(reader.readInt32(i32));
  EXPECT_FALSE(reader.readInt64(i64));
  EXPECT_FALSE(reader.readDouble(d));
  EXPECT_FALSE(reader.readView(4, view));
  EXPECT_FALSE(reader.readAlignment(8));
  EXPECT_EQ(reader.offset(), 1u);
  EXPECT_TRUE(reader.readView(3, view));
  EXPECT_EQ(view.data(), input.data());
  EXPECT_TRUE(reader.atEnd());
}

// Catches alignment measured from the reader's own start instead of the
// message start, on both sides.
TEST(ByteStreamTest, AlignsFromTheMessageStart) {
  const auto input = bytes({0, 0, 0, 0, 0, 0x2a, 0, 0, 0});
  // A reader over a part that starts 3 bytes into the message.
  ByteStreamReader reader(input, 3);
  EXPECT_EQ(reader.offset(), 3u);
  ASSERT_TRUE(reader.readAlignment(4));
  EXPECT_EQ(reader.offset(), 4u);
  ASSERT_TRUE(reader.readAlignment(8));
  EXPECT_EQ(reader.offset(), 8u);
  int32_t v = 0;
  ASSERT_TRUE(reader.readInt32(v));
  EXPECT_EQ(v, 0x2a);

  std::vector<uint8_t> buffer = bytes({0xaa, 0xaa, 0xaa});
  {
    ByteStreamWriter writer(buffer);
    writer.writeAlignment(4);
    EXPECT_EQ(writer.offset(), 4u);
    writer.writeAlignment(4);
    EXPECT_EQ(writer.offset(), 4u);
    writer.writeByte(1);
    writer.writeAlignment(8);
  }
  EXPECT_EQ(buffer, bytes({0xaa, 0xaa, 0xaa, 0, 1, 0, 0, 0}));
}

// Catches the spare room the writer grows ahead being left in the buffer, or
// earlier contents being overwritten when a second writer appends.
TEST(ByteStreamTest, WriterLeavesExactlyWhatItWrote) {
  std::vector<uint8_t> buffer;
  {
    ByteStreamWriter writer(buffer);
    writer.writeSize(300);
    writer.writeInt32(-1);
  }
  EXPECT_EQ(buffer, bytes({0xfe, 0x2c, 0x01, 0xff, 0xff, 0xff, 0xff}));
  {
    ByteStreamWriter writer(buffer);
    writer.writeSize(70000);
    const std::vector<uint8_t> big(1000, 0x5a);
    writer.writeBytes(big.data(), big.size());
    writer.writeAlignment(8);
  }
  ASSERT_EQ(buffer.size(), 1016u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 12),
            bytes({0xfe, 0x2c, 0x01, 0xff, 0xff, 0xff, 0xff, 0xff, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(buffer[1011], 0x5a);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 1012, buffer.end()), bytes({0, 0, 0, 0}));
}

// Catches the reservation allowance running past the input size, which is
// what keeps hostile nested counts from reserving without bound.
TEST(ByteStreamTest, AllowsReservationsUpToTheInputSize) {
  const std::vector<uint8_t> input(100);
  ByteStreamReader reader(input);
  EXPECT_EQ(reader.reservableSlots(60), 60u);
  EXPECT_EQ(reader.reservableSlots(41), 0u);
  EXPECT_EQ(reader.reservableSlots(40), 40u);
  EXPECT_EQ(reader.reservableSlots(1), 0u);
}

}  // namespace
}  // namespace korvane
