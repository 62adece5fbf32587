// Frames of the interface connection: the bytes that carry platform messages
// and their replies between the host and the interface over a stream socket.
//
//   frame := length:u32 body          5 <= length <= 16 MiB, little-endian
//   body  := kind:u8 id:u32 rest
//   kind 1 (message to the host)  rest := channel_length:u16 channel payload
//   kind 2 (reply from the host)  rest := payload
//
// Thread: any. A FrameReader belongs to one connection and is used by one
// thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

enum class FrameKind : uint8_t {
  message = 1,      // interface to host: a platform message on a channel
  reply = 2,        // host to interface: the reply to a message
  hostMessage = 3,  // reserved: host to interface
  hostReply = 4,    // reserved: the interface's reply to a host message
};

inline constexpr uint32_t kMinFrameLength = 5;
inline constexpr uint32_t kMaxFrameLength = 16u * 1024 * 1024;
// Bytes before the payload: length, kind and id.
inline constexpr size_t kReplyHeaderSize = 9;
// The largest payload a reply frame can carry.
inline constexpr size_t kMaxReplyPayload = kMaxFrameLength - 5;

struct InterfaceFrame {
  FrameKind kind = FrameKind::message;
  uint32_t id = 0;
  std::string channel;  // empty unless kind is message
  std::vector<uint8_t> payload;

  friend bool operator==(const InterfaceFrame&, const InterfaceFrame&) = default;
};

// Cuts a byte stream into frames, however the stream is split into reads.
// Framing breaks on a length out of range, a kind other than the one this
// reader accepts, or a message body too short for its channel name; each is
// detected as soon as the bytes that show it have arrived, and a length is
// checked before anything is allocated for the body. A broken reader stays
// broken: the stream cannot be resynchronised.
class FrameReader {
 public:
  // `accepted` is the one kind this end expects: message for the host,
  // reply for a client.
  explicit FrameReader(FrameKind accepted) : accepted_(accepted) {}

  // Reads all of `bytes` and appends each frame they complete to `frames`, in
  // order. Returns false when the framing is broken (error() says how); frames
  // completed before the break are still appended. Once broken, returns false
  // without reading.
  bool feed(std::span<const uint8_t> bytes, std::vector<InterfaceFrame>& frames);

  bool broken() const { return !error_.empty(); }
  // A one-line reason, e.g. "frame length 3 is out of range"; empty while intact.
  const std::string& error() const { return error_; }
  // Bytes held of a frame that has not completed yet.
  size_t bufferedBytes() const { return pending_.size(); }

 private:
  enum class Step { needMore, frame, broken };
  // Examines the frame at the start of `bytes`: breaks on what is already
  // visible, or yields the frame when all of it is there.
  Step parse(std::span<const uint8_t> bytes, size_t& frameSize,
             std::vector<InterfaceFrame>& frames);
  // How many more bytes the frame in pending_ needs before parse can decide.
  size_t wanted() const;

  FrameKind accepted_;
  std::vector<uint8_t> pending_;
  std::string error_;
};

// The 9 bytes that precede a reply payload of `payloadSize` bytes (at most
// kMaxReplyPayload).
std::array<uint8_t, kReplyHeaderSize> replyFrameHeader(uint32_t id, size_t payloadSize);

// A whole reply frame; nullopt when the payload is larger than kMaxReplyPayload.
std::optional<std::vector<uint8_t>> encodeReplyFrame(uint32_t id, std::span<const uint8_t> payload);

// A whole message frame; nullopt when the channel name is longer than 65535
// bytes or the frame would exceed kMaxFrameLength.
std::optional<std::vector<uint8_t>> encodeMessageFrame(uint32_t id, std::string_view channel,
                                                       std::span<const uint8_t> payload);

}  // namespace korvane
