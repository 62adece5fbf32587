#include "platform/linux/engine/interface_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<uint8_t>;
using Frames = std::vector<InterfaceFrame>;

// Catches a writer that is not little-endian, misplaces kind, id or channel,
// or writes a frame the peer would reject as broken.
TEST(InterfaceFrameTest, WritesTheDocumentedBytesAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(*encodeMessageFrame(0x04030201, "ab", Bytes{0xEE}),
            (Bytes{10, 0, 0, 0, 1, 1, 2, 3, 4, 2, 0, 'a', 'b', 0xEE}));
  EXPECT_EQ(*encodeFrame({FrameKind::hostReply, 0x04030201, "", {7, 8}}),
            (Bytes{7, 0, 0, 0, 4, 1, 2, 3, 4, 7, 8}));
  EXPECT_TRUE(encodeFrame({FrameKind::hostMessage, 1, std::string(65535, 'c'), {}}));
  EXPECT_FALSE(encodeMessageFrame(1, std::string(65536, 'c'), Bytes{}));
  EXPECT_FALSE(encodeReplyFrame(1, Bytes(kMaxReplyPayload + 1)));
  EXPECT_FALSE(encodeFrame({FrameKind::hostMessage, 1, "c", Bytes(kMaxReplyPayload - 2)}));
}

// Catches a reader that loses, duplicates or misparses frames when a read ends
// inside a length, a header, a channel name or a payload, on either end; that
// accepts a broken stream, waits for a body it should have refused from its
// header, or words the error differently depending on how the bytes arrived;
// and one that resumes after a break.
TEST(InterfaceFrameTest, SameOutcomeWhereverTheStreamIsSplit) {
  const Frames host = {{FrameKind::message, 42, "macos_install", {7, 5}},
                       {FrameKind::hostReply, 2, "", {}},
                       {FrameKind::message, 0xFFFFFFFF, "", {}},
                       {FrameKind::hostReply, 3, "", {4, 5}}};
  const Frames client = {{FrameKind::hostMessage, 9, "ui", {1, 2}},
                         {FrameKind::reply, 1, "", {}},
                         {FrameKind::hostMessage, 10, "", {}},
                         {FrameKind::reply, 7, "", {3}}};
  auto streamOf = [](const Frames& frames, Bytes tail) {  // the frames' bytes, then `tail`
    for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) {
      const Bytes bytes = *encodeFrame(*frame);
      tail.insert(tail.begin(), bytes.begin(), bytes.end());
    }
    return tail;
  };
  // Who reads, the bytes, the error ("" for none) and the frames read before it.
  const std::tuple<bool, Bytes, std::string, size_t> cases[] = {
      // clang-format off
      {true, streamOf(host, {}), "", 4},
      {false, streamOf(client, {}), "", 4},
      {true, streamOf(host, {2, 0, 0, 0}), "frame length 2 is out of range", 4},
      {true, {1, 0, 0, 1, 1}, "frame length 16777217 is out of range", 0},
      {true, {0xFF, 0xFF, 0xFF, 0xFF}, "frame length 4294967295 is out of range", 0},
      {true, {100, 0, 0, 0, 0}, "unknown frame kind 0", 0},  // the body is not there yet
      {false, {5, 0, 0, 0, 5, 0, 0, 0, 0}, "unknown frame kind 5", 0},
      {true, {5, 0, 0, 0, 3, 1, 0, 0, 0}, "unexpected frame kind 3", 0},
      {false, streamOf(client, {7, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0}), "unexpected frame kind 1", 4},
      {false, {5, 0, 0, 0, 4, 1, 0, 0, 0}, "unexpected frame kind 4", 0},
      {true, {5, 0, 0, 0, 1, 1, 0, 0, 0}, "frame body of 5 bytes has no channel name length", 0},
      {false, {6, 0, 0, 0, 3, 1, 0, 0, 0, 0}, "frame body of 6 bytes has no channel name length", 0},
      {true, {8, 0, 0, 0, 1, 1, 0, 0, 0, 0xFF, 0xFF, 'a'},
       "frame body of 8 bytes is too short for a channel name of 65535 bytes", 0},
      // clang-format on
  };
  for (const auto& [hostReads, bytes, error, before] : cases) {
    const Frames& sent = hostReads ? host : client;
    for (size_t split = 0; split <= bytes.size(); ++split) {
      SCOPED_TRACE(error + " split at " + std::to_string(split));
      FrameReader reader(hostReads ? kHostReadKinds : kClientReadKinds);
      Frames frames;
      const bool first = reader.feed(std::span(bytes).first(split), frames);
      EXPECT_EQ(reader.feed(std::span(bytes).subspan(split), frames) && first, error.empty());
      EXPECT_EQ(reader.error(), error);
      EXPECT_EQ(frames, Frames(sent.begin(), sent.begin() + static_cast<ptrdiff_t>(before)));
      EXPECT_TRUE(!error.empty() || reader.bufferedBytes() == 0);
      EXPECT_EQ(reader.feed(streamOf(host, {}), frames), error.empty() && hostReads);
    }
  }
}

}  // namespace
}  // namespace korvane
