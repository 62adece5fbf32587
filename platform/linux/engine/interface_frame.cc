#include "platform/linux/engine/interface_frame.h"

#include <algorithm>

namespace korvane {
namespace {

// A message body holds at least kind, id and the channel name's length.
constexpr uint32_t kMinMessageBody = 7;
// Past this, a buffer left over from a large frame is given back.
constexpr size_t kKeptBufferCapacity = 64 * 1024;

uint32_t readU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint16_t readU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

void writeU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

FrameReader::Step FrameReader::parse(std::span<const uint8_t> bytes, size_t& frameSize,
                                     std::vector<InterfaceFrame>& frames) {
  if (bytes.size() < 4) return Step::needMore;
  const uint32_t length = readU32(bytes.data());
  if (length < kMinFrameLength || length > kMaxFrameLength) {
    error_ = "frame length " + std::to_string(length) + " is out of range";
    return Step::broken;
  }
  if (bytes.size() < 5) return Step::needMore;
  const uint8_t kindByte = bytes[4];
  if (kindByte < static_cast<uint8_t>(FrameKind::message) ||
      kindByte > static_cast<uint8_t>(FrameKind::hostReply)) {
    error_ = "unknown frame kind " + std::to_string(kindByte);
    return Step::broken;
  }
  const auto kind = static_cast<FrameKind>(kindByte);
  if (!accepted_.contains(kind)) {
    error_ = "unexpected frame kind " + std::to_string(kindByte);
    return Step::broken;
  }
  size_t payloadStart = 9;
  uint16_t channelLength = 0;
  if (hasChannel(kind)) {
    if (length < kMinMessageBody) {
      error_ = "frame body of " + std::to_string(length) + " bytes has no channel name length";
      return Step::broken;
    }
    if (bytes.size() < 4 + kMinMessageBody) return Step::needMore;
    channelLength = readU16(bytes.data() + 9);
    if (kMinMessageBody + size_t{channelLength} > length) {
      error_ = "frame body of " + std::to_string(length) +
               " bytes is too short for a channel name of " + std::to_string(channelLength) +
               " bytes";
      return Step::broken;
    }
    payloadStart = 4 + kMinMessageBody + channelLength;
  }
  frameSize = size_t{4} + length;
  if (bytes.size() < frameSize) return Step::needMore;

  InterfaceFrame& frame = frames.emplace_back();
  frame.kind = kind;
  frame.id = readU32(bytes.data() + 5);
  frame.channel.assign(reinterpret_cast<const char*>(bytes.data()) + 4 + kMinMessageBody,
                       channelLength);
  frame.payload.assign(bytes.begin() + static_cast<ptrdiff_t>(payloadStart),
                       bytes.begin() + static_cast<ptrdiff_t>(frameSize));
  return Step::frame;
}

size_t FrameReader::wanted() const {
  if (pending_.size() < 4) return 4 - pending_.size();
  return size_t{4} + readU32(pending_.data()) - pending_.size();
}

bool FrameReader::feed(std::span<const uint8_t> bytes, std::vector<InterfaceFrame>& frames) {
  if (broken()) return false;
  size_t frameSize = 0;
  while (!bytes.empty()) {
    if (!pending_.empty()) {
      // Complete the frame begun by an earlier read; take no byte beyond it.
      const size_t take = std::min(wanted(), bytes.size());
      pending_.insert(pending_.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(take));
      bytes = bytes.subspan(take);
      const Step step = parse(pending_, frameSize, frames);
      if (step == Step::broken) return false;
      if (step == Step::frame) {
        if (pending_.capacity() > kKeptBufferCapacity) {
          pending_ = {};
        } else {
          pending_.clear();
        }
      }
      continue;
    }
    // Nothing pending: frames wholly inside this read are taken without buffering.
    const Step step = parse(bytes, frameSize, frames);
    if (step == Step::broken) return false;
    if (step == Step::needMore) {
      pending_.assign(bytes.begin(), bytes.end());
      break;
    }
    bytes = bytes.subspan(frameSize);
  }
  return true;
}

std::array<uint8_t, kReplyHeaderSize> replyFrameHeader(uint32_t id, size_t payloadSize,
                                                       FrameKind kind) {
  std::array<uint8_t, kReplyHeaderSize> header{};
  writeU32(header.data(), static_cast<uint32_t>(payloadSize + 5));
  header[4] = static_cast<uint8_t>(kind);
  writeU32(header.data() + 5, id);
  return header;
}

std::optional<std::vector<uint8_t>> encodeReplyFrame(uint32_t id, std::span<const uint8_t> payload,
                                                     FrameKind kind) {
  if (payload.size() > kMaxReplyPayload) return std::nullopt;
  const auto header = replyFrameHeader(id, payload.size(), kind);
  std::vector<uint8_t> frame;
  frame.reserve(header.size() + payload.size());
  frame.insert(frame.end(), header.begin(), header.end());
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

std::optional<std::vector<uint8_t>> encodeMessageFrame(uint32_t id, std::string_view channel,
                                                       std::span<const uint8_t> payload,
                                                       FrameKind kind) {
  if (channel.size() > UINT16_MAX) return std::nullopt;
  const size_t length = kMinMessageBody + channel.size() + payload.size();
  if (length > kMaxFrameLength) return std::nullopt;
  std::vector<uint8_t> frame(4 + kMinMessageBody);
  writeU32(frame.data(), static_cast<uint32_t>(length));
  frame[4] = static_cast<uint8_t>(kind);
  writeU32(frame.data() + 5, id);
  frame[9] = static_cast<uint8_t>(channel.size());
  frame[10] = static_cast<uint8_t>(channel.size() >> 8);
  frame.reserve(4 + length);
  frame.insert(frame.end(), channel.begin(), channel.end());
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

std::optional<std::vector<uint8_t>> encodeFrame(const InterfaceFrame& frame) {
  if (hasChannel(frame.kind))
    return encodeMessageFrame(frame.id, frame.channel, frame.payload, frame.kind);
  return encodeReplyFrame(frame.id, frame.payload, frame.kind);
}

}  // namespace korvane
