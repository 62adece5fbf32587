// A plain client of the interface connection for tests: sends frames over a
// blocking Unix socket and collects replies (kind 2) and the host's messages
// (kind 3) while the test's main loop runs the engine. It answers the host's
// messages only when the test tells it to. Thread: the test's main thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/engine/interface_frame.h"

namespace korvane::testing {

class InterfaceTestClient {
 public:
  // Connects to `path`; connected() says whether that worked.
  explicit InterfaceTestClient(const std::string& path);
  ~InterfaceTestClient();
  InterfaceTestClient(const InterfaceTestClient&) = delete;
  InterfaceTestClient& operator=(const InterfaceTestClient&) = delete;

  bool connected() const { return fd_ >= 0; }

  // Writes raw bytes (a frame, or anything else).
  bool sendBytes(const std::vector<uint8_t>& bytes);
  bool sendMessage(uint32_t id, std::string_view channel, const std::vector<uint8_t>& payload);
  // Answers host message `id` (or any id, to test strays) with a kind-4 frame.
  bool sendHostReply(uint32_t id, const std::vector<uint8_t>& payload);

  // Runs the main loop until `count` replies in all have arrived (or the
  // timeout); returns every reply received so far, in arrival order.
  const std::vector<InterfaceFrame>& awaitReplies(
      size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Runs the main loop until `count` host messages in all have arrived (or the
  // timeout); returns every host message received so far, in arrival order.
  const std::vector<InterfaceFrame>& awaitHostMessages(
      size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Runs the main loop until the host closes the connection; false on timeout.
  bool awaitClosedByHost(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Writes `bytes` without running the main loop, until all of them went or
  // the socket has taken nothing for `timeout`; returns how many bytes went.
  size_t sendWithin(std::span<const uint8_t> bytes, std::chrono::milliseconds timeout);
  // Waits for the reply with id `id` without running the main loop (for a
  // host in another process); false after `timeout`.
  bool awaitReplyWithoutLoop(uint32_t id, std::chrono::milliseconds timeout);

  // Shuts down this end's sending side; replies can still be read.
  void shutdownSending();
  // Closes this end.
  void close();

  const std::vector<InterfaceFrame>& replies() const { return replies_; }
  const std::vector<InterfaceFrame>& hostMessages() const { return hostMessages_; }
  // Every frame received, replies and host messages, in arrival order.
  const std::vector<InterfaceFrame>& frames() const { return frames_; }

 private:
  // Reads what is there without waiting; notes the end of stream.
  void drain();

  int fd_ = -1;
  bool hostClosed_ = false;
  FrameReader reader_{kClientReadKinds};
  std::vector<InterfaceFrame> frames_;
  std::vector<InterfaceFrame> replies_;
  std::vector<InterfaceFrame> hostMessages_;
};

}  // namespace korvane::testing
