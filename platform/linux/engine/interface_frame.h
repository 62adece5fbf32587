// Frames of the interface connection: the bytes that carry platform messages
// and their replies between the host and the interface over a stream socket.
//
//   frame := length:u32 body          5 <= length <= 16 MiB, little-endian
//   body  := kind:u8 id:u32 rest
//   kind 1 (message to the host)           rest := channel_length:u16 channel payload
//   kind 2 (reply from the host)           rest := payload
//   kind 3 (message from the host)         rest := channel_length:u16 channel payload
//   kind 4 (reply to a message from host)  rest := payload
//
// The host reads kinds 1 and 4; a client reads kinds 2 and 3.
//
// Thread: any. A FrameReader belongs to one connection and is used by one
// thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

enum class FrameKind : uint8_t {
  message = 1,      // interface to host: a platform message on a channel
  reply = 2,        // host to interface: the reply to a message
  hostMessage = 3,  // host to interface: a platform message on a channel
  hostReply = 4,    // interface to host: the reply to a host message
};

// A set of frame kinds: those one end of the connection reads.
class FrameKinds {
 public:
  constexpr FrameKinds(std::initializer_list<FrameKind> kinds) {
    for (FrameKind kind : kinds) bits_ |= bit(kind);
  }
  constexpr bool contains(FrameKind kind) const { return (bits_ & bit(kind)) != 0; }

 private:
  static constexpr uint8_t bit(FrameKind kind) {
    return static_cast<uint8_t>(1u << static_cast<uint8_t>(kind));
  }
  uint8_t bits_ = 0;
};

// What the host reads: messages and the replies to its own messages.
inline constexpr FrameKinds kHostReadKinds{FrameKind::message, FrameKind::hostReply};
// What a client reads: replies and the host's messages.
inline constexpr FrameKinds kClientReadKinds{FrameKind::reply, FrameKind::hostMessage};

// Whether frames of `kind` carry a channel name (kinds 1 and 3).
constexpr bool hasChannel(FrameKind kind) {
  return kind == FrameKind::message || kind == FrameKind::hostMessage;
}

inline constexpr uint32_t kMinFrameLength = 5;
inline constexpr uint32_t kMaxFrameLength = 16u * 1024 * 1024;
// Bytes before the payload: length, kind and id.
inline constexpr size_t kReplyHeaderSize = 9;
// The largest payload a reply frame (kind 2 or 4) can carry.
inline constexpr size_t kMaxReplyPayload = kMaxFrameLength - 5;

struct InterfaceFrame {
  FrameKind kind = FrameKind::message;
  uint32_t id = 0;
  std::string channel;  // empty unless the kind has a channel (1 and 3)
  std::vector<uint8_t> payload;

  friend bool operator==(const InterfaceFrame&, const InterfaceFrame&) = default;
};

// Cuts a byte stream into frames, however the stream is split into reads.
// Framing breaks on a length out of range, a kind other than those this
// reader accepts, or a body of kind 1 or 3 too short for its channel name; each is
// detected as soon as the bytes that show it have arrived, and a length is
// checked before anything is allocated for the body. A broken reader stays
// broken: the stream cannot be resynchronised.
class FrameReader {
 public:
  // `accepted` are the kinds this end reads: kHostReadKinds for the host,
  // kClientReadKinds for a client.
  explicit FrameReader(FrameKinds accepted) : accepted_(accepted) {}

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

  FrameKinds accepted_;
  std::vector<uint8_t> pending_;
  std::string error_;
};

// The 9 bytes that precede a reply payload of `payloadSize` bytes (at most
// kMaxReplyPayload); `kind` is reply or hostReply.
std::array<uint8_t, kReplyHeaderSize> replyFrameHeader(uint32_t id, size_t payloadSize,
                                                       FrameKind kind = FrameKind::reply);

// A whole reply frame (kind 2, or `kind`); nullopt when the payload is larger
// than kMaxReplyPayload.
std::optional<std::vector<uint8_t>> encodeReplyFrame(uint32_t id, std::span<const uint8_t> payload,
                                                     FrameKind kind = FrameKind::reply);

// A whole message frame (kind 1, or `kind`: hostMessage); nullopt when the
// channel name is longer than 65535 bytes or the frame would exceed
// kMaxFrameLength.
std::optional<std::vector<uint8_t>> encodeMessageFrame(uint32_t id, std::string_view channel,
                                                       std::span<const uint8_t> payload,
                                                       FrameKind kind = FrameKind::message);

// Any frame, by its kind; nullopt where the writers above refuse it.
std::optional<std::vector<uint8_t>> encodeFrame(const InterfaceFrame& frame);

}  // namespace korvane
