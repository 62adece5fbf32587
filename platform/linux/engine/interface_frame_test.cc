#include "platform/linux/engine/interface_frame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes messageFrame(uint32_t id, const std::string& channel, const Bytes& payload) {
  return *encodeMessageFrame(id, channel, payload);
}

Bytes frameOf(const InterfaceFrame& frame) { return *encodeFrame(frame); }

// Feeds `bytes` split after `split` bytes; returns the frames and the reader.
std::vector<InterfaceFrame> feedSplit(FrameReader& reader, const Bytes& bytes, size_t split,
                                      bool& ok) {
  std::vector<InterfaceFrame> frames;
  ok = reader.feed(std::span(bytes).first(split), frames);
  ok = reader.feed(std::span(bytes).subspan(split), frames) && ok;
  return frames;
}

// Catches a writer that is not little-endian or misplaces kind, id or channel.
TEST(InterfaceFrameTest, MessageFrameHasTheDocumentedBytes) {
  const Bytes frame = messageFrame(0x04030201, "ab", {0xEE});
  const Bytes expected = {10, 0, 0, 0, 1, 0x01, 0x02, 0x03, 0x04, 2, 0, 'a', 'b', 0xEE};
  EXPECT_EQ(frame, expected);
  const Bytes reply = *encodeReplyFrame(0x0A0B0C0D, Bytes{7, 8});
  EXPECT_EQ(reply, (Bytes{7, 0, 0, 0, 2, 0x0D, 0x0C, 0x0B, 0x0A, 7, 8}));
  const Bytes hostMessage = *encodeFrame({FrameKind::hostMessage, 0x04030201, "ab", {0xEE}});
  EXPECT_EQ(hostMessage, (Bytes{10, 0, 0, 0, 3, 0x01, 0x02, 0x03, 0x04, 2, 0, 'a', 'b', 0xEE}));
  const Bytes hostReply = *encodeFrame({FrameKind::hostReply, 0x0A0B0C0D, "", {7, 8}});
  EXPECT_EQ(hostReply, (Bytes{7, 0, 0, 0, 4, 0x0D, 0x0C, 0x0B, 0x0A, 7, 8}));
}

// Catches a writer that produces frames the peer would reject as broken.
TEST(InterfaceFrameTest, WriterRefusesWhatDoesNotFit) {
  EXPECT_FALSE(encodeMessageFrame(1, std::string(65536, 'c'), {}).has_value());
  EXPECT_TRUE(encodeMessageFrame(1, std::string(65535, 'c'), {}).has_value());
  const Bytes tooBig(kMaxReplyPayload + 1);
  EXPECT_FALSE(encodeReplyFrame(1, tooBig).has_value());
  EXPECT_FALSE(encodeMessageFrame(1, "c", tooBig).has_value());
  EXPECT_FALSE(encodeFrame({FrameKind::hostReply, 1, "", tooBig}).has_value());
  EXPECT_FALSE(encodeFrame({FrameKind::hostMessage, 1, std::string(65536, 'c'), {}}).has_value());
}

struct GoodStream {
  const char* name;
  FrameKinds accepted;
  Bytes bytes;
  std::vector<InterfaceFrame> frames;
};

std::vector<GoodStream> goodStreams() {
  const Bytes call = {7, 5, 'p', 'r', 'o', 'b', 'e', 0};
  return {
      {"one message",
       kHostReadKinds,
       messageFrame(42, "macos_install_location", call),
       {{FrameKind::message, 42, "macos_install_location", call}}},
      {"empty channel and payload",
       kHostReadKinds,
       messageFrame(0xFFFFFFFF, "", {}),
       {{FrameKind::message, 0xFFFFFFFF, "", {}}}},
      {"three messages back to back",
       kHostReadKinds,
       concat({messageFrame(1, "a", {1}), messageFrame(2, "bb", {}), messageFrame(3, "", {9, 9})}),
       {{FrameKind::message, 1, "a", {1}},
        {FrameKind::message, 2, "bb", {}},
        {FrameKind::message, 3, "", {9, 9}}}},
      {"empty reply then a reply with data",
       kClientReadKinds,
       concat({*encodeReplyFrame(7, Bytes{}), *encodeReplyFrame(8, Bytes{0, 1})}),
       {{FrameKind::reply, 7, "", {}}, {FrameKind::reply, 8, "", {0, 1}}}},
      {"the host reads messages and replies to its own messages, interleaved",
       kHostReadKinds,
       concat({messageFrame(1, "a", {1}), frameOf({FrameKind::hostReply, 2, "", {}}),
               frameOf({FrameKind::hostReply, 3, "", {4, 5}}), messageFrame(4, "", {})}),
       {{FrameKind::message, 1, "a", {1}},
        {FrameKind::hostReply, 2, "", {}},
        {FrameKind::hostReply, 3, "", {4, 5}},
        {FrameKind::message, 4, "", {}}}},
      {"a client reads replies and host messages, interleaved",
       kClientReadKinds,
       concat({frameOf({FrameKind::hostMessage, 9, "ui", {1, 2}}), *encodeReplyFrame(1, Bytes{3}),
               frameOf({FrameKind::hostMessage, 10, "", {}})}),
       {{FrameKind::hostMessage, 9, "ui", {1, 2}},
        {FrameKind::reply, 1, "", {3}},
        {FrameKind::hostMessage, 10, "", {}}}},
  };
}

// Catches a reader that loses, duplicates or misparses frames when a read ends
// inside a length, a header, a channel name or a payload.
TEST(InterfaceFrameTest, SameFramesWhereverTheStreamIsSplit) {
  for (const GoodStream& stream : goodStreams()) {
    for (size_t split = 0; split <= stream.bytes.size(); ++split) {
      FrameReader reader(stream.accepted);
      bool ok = false;
      EXPECT_EQ(feedSplit(reader, stream.bytes, split, ok), stream.frames)
          << stream.name << ", split at " << split;
      EXPECT_TRUE(ok) << stream.name << ": " << reader.error();
      EXPECT_EQ(reader.bufferedBytes(), 0u) << stream.name;
    }
    FrameReader reader(stream.accepted);
    std::vector<InterfaceFrame> frames;
    for (uint8_t byte : stream.bytes) ASSERT_TRUE(reader.feed(std::span(&byte, 1), frames));
    EXPECT_EQ(frames, stream.frames) << stream.name << ", one byte at a time";
  }
}

struct BadStream {
  const char* name;
  FrameKinds accepted;
  Bytes bytes;
  std::string error;
  size_t framesBefore;
};

std::vector<BadStream> badStreams() {
  const Bytes good = messageFrame(1, "c", {1, 2});
  return {
      {"length below 5",
       kHostReadKinds,
       {3, 0, 0, 0, 1, 0, 0},
       "frame length 3 is out of range",
       0},
      {"length 0", kClientReadKinds, {0, 0, 0, 0}, "frame length 0 is out of range", 0},
      {"length over 16 MiB",
       kHostReadKinds,
       {1, 0, 0, 1, 1},
       "frame length 16777217 is out of range",
       0},
      {"length 4 GiB - 1",
       kHostReadKinds,
       {0xFF, 0xFF, 0xFF, 0xFF},
       "frame length 4294967295 is out of range",
       0},
      {"kind 0", kHostReadKinds, {100, 0, 0, 0, 0}, "unknown frame kind 0", 0},
      {"kind 5", kClientReadKinds, {5, 0, 0, 0, 5, 0, 0, 0, 0}, "unknown frame kind 5", 0},
      {"kind 255 with a 16 MiB body not yet sent",
       kHostReadKinds,
       {0, 0, 0, 1, 255},
       "unknown frame kind 255",
       0},
      {"a reply sent to the host",
       kHostReadKinds,
       {5, 0, 0, 0, 2, 1, 0, 0, 0},
       "unexpected frame kind 2",
       0},
      {"a host message sent to the host",
       kHostReadKinds,
       {5, 0, 0, 0, 3, 1, 0, 0, 0},
       "unexpected frame kind 3",
       0},
      {"a reply to a host message sent to a client",
       kClientReadKinds,
       {5, 0, 0, 0, 4, 1, 0, 0, 0},
       "unexpected frame kind 4",
       0},
      {"host message of 6 bytes",
       kClientReadKinds,
       {6, 0, 0, 0, 3, 1, 0, 0, 0, 0},
       "frame body of 6 bytes has no channel name length",
       0},
      {"host message with a channel name longer than the body",
       kClientReadKinds,
       {9, 0, 0, 0, 3, 1, 0, 0, 0, 3, 0, 'a', 'b'},
       "frame body of 9 bytes is too short for a channel name of 3 bytes",
       0},
      {"a reply, then a message sent to a client", kClientReadKinds,
       concat({*encodeReplyFrame(1, Bytes{}), {7, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0}}),
       "unexpected frame kind 1", 1},
      {"a message sent to a client",
       kClientReadKinds,
       {7, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0},
       "unexpected frame kind 1",
       0},
      {"message of 5 bytes",
       kHostReadKinds,
       {5, 0, 0, 0, 1, 1, 0, 0, 0},
       "frame body of 5 bytes has no channel name length",
       0},
      {"message of 6 bytes",
       kHostReadKinds,
       {6, 0, 0, 0, 1, 1, 0, 0, 0, 0},
       "frame body of 6 bytes has no channel name length",
       0},
      {"channel name longer than the body",
       kHostReadKinds,
       {10, 0, 0, 0, 1, 1, 0, 0, 0, 4, 0, 'a', 'b', 'c'},
       "frame body of 10 bytes is too short for a channel name of 4 bytes",
       0},
      {"channel name of 65535 in a small body",
       kHostReadKinds,
       {8, 0, 0, 0, 1, 1, 0, 0, 0, 0xFF, 0xFF, 'a'},
       "frame body of 8 bytes is too short for a channel name of 65535 bytes",
       0},
      {"good frames, then a bad length", kHostReadKinds, concat({good, good, {2, 0, 0, 0}}),
       "frame length 2 is out of range", 2},
  };
}

// Catches a reader that accepts a broken stream, waits for a body it should
// have refused from its header, or reports a different error depending on
// how the bytes arrived.
TEST(InterfaceFrameTest, BrokenStreamsAreRefusedWhereverTheyAreSplit) {
  for (const BadStream& stream : badStreams()) {
    for (size_t split = 0; split <= stream.bytes.size(); ++split) {
      FrameReader reader(stream.accepted);
      bool ok = true;
      const auto frames = feedSplit(reader, stream.bytes, split, ok);
      EXPECT_FALSE(ok) << stream.name << ", split at " << split;
      EXPECT_EQ(reader.error(), stream.error) << stream.name << ", split at " << split;
      EXPECT_EQ(frames.size(), stream.framesBefore) << stream.name;
    }
  }
}

// Catches a reader that resumes after a break and misreads the rest as frames.
TEST(InterfaceFrameTest, StaysBrokenOnceBroken) {
  FrameReader reader(kHostReadKinds);
  std::vector<InterfaceFrame> frames;
  EXPECT_FALSE(reader.feed(Bytes{4, 0, 0, 0}, frames));
  EXPECT_FALSE(reader.feed(messageFrame(1, "c", {}), frames));
  EXPECT_TRUE(frames.empty());
  EXPECT_EQ(reader.error(), "frame length 4 is out of range");
}

// Catches an off-by-one at the upper limit and a reader that buffers the
// declared size up front instead of what has arrived.
TEST(InterfaceFrameTest, LargestFrameIsAcceptedAndBufferedAsItArrives) {
  const Bytes payload(kMaxFrameLength - 8, 0x5A);
  const Bytes frame = messageFrame(9, "c", payload);
  ASSERT_EQ(frame.size(), size_t{4} + kMaxFrameLength);

  FrameReader reader(kHostReadKinds);
  std::vector<InterfaceFrame> frames;
  ASSERT_TRUE(reader.feed(std::span(frame).first(100), frames));
  EXPECT_EQ(reader.bufferedBytes(), 100u);
  ASSERT_TRUE(reader.feed(std::span(frame).subspan(100), frames));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload, payload);
  EXPECT_EQ(reader.bufferedBytes(), 0u);
}

}  // namespace
}  // namespace korvane
