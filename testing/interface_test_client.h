// A plain client of the interface connection for tests: sends frames over a
// blocking Unix socket and collects replies (kind 2) and the host's messages
// (kind 3) while the test's main loop runs (the engine, when it is in this
// process). It answers the host's messages only when the test tells it to.
// Thread: the test's main thread.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/engine/interface_frame.h"
#include "platform/linux/posix/file_descriptor.h"
#include "platform/main_loop.h"
#include "testing/unix_socket.h"

namespace korvane::testing {

class InterfaceTestClient {
 public:
  using Frames = std::vector<InterfaceFrame>;

  // Connects to `path`; connected() says whether that worked.
  explicit InterfaceTestClient(const std::string& path) : fd_(connectUnixSocket(path)) {}
  InterfaceTestClient(const InterfaceTestClient&) = delete;
  InterfaceTestClient& operator=(const InterfaceTestClient&) = delete;

  bool connected() const { return fd_.valid(); }

  // Writes raw bytes (a frame, or anything else); false unless all went.
  bool sendBytes(const std::vector<uint8_t>& bytes) {
    for (size_t done = 0; done < bytes.size();) {
      const ssize_t n = send(fd_.get(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  bool sendMessage(uint32_t id, std::string_view channel, const std::vector<uint8_t>& payload) {
    auto frame = encodeMessageFrame(id, channel, payload);
    return frame && sendBytes(*frame);
  }
  // Answers host message `id` (or any id, to test strays) with a kind-4 frame.
  bool sendHostReply(uint32_t id, const std::vector<uint8_t>& payload) {
    auto frame = encodeReplyFrame(id, payload, FrameKind::hostReply);
    return frame && sendBytes(*frame);
  }

  // Run the main loop until `count` replies (host messages) in all have
  // arrived, or the host closed, or the timeout; return every one received
  // so far, in arrival order.
  const Frames& awaitReplies(size_t count, std::chrono::milliseconds timeout = kWait) {
    await([&] { return replies_.size() >= count; }, timeout);
    return replies_;
  }
  const Frames& awaitHostMessages(size_t count, std::chrono::milliseconds timeout = kWait) {
    await([&] { return hostMessages_.size() >= count; }, timeout);
    return hostMessages_;
  }
  // Runs the main loop until the host closes the connection; false on timeout.
  bool awaitClosedByHost(std::chrono::milliseconds timeout = kWait) {
    await([] { return false; }, timeout);
    return hostClosed_;
  }

  const Frames& replies() const { return replies_; }
  const Frames& hostMessages() const { return hostMessages_; }
  // Every frame received, replies and host messages, in arrival order.
  const Frames& frames() const { return frames_; }

 private:
  static constexpr std::chrono::milliseconds kWait = std::chrono::seconds(10);

  // Runs the main loop until `done()`, the host's close or the timeout,
  // reading what comes meanwhile.
  void await(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    runMainLoopUntil(
        [&] {
          drain();
          return done() || hostClosed_;
        },
        timeout);
  }
  // Reads what is there without waiting; notes the end of stream.
  void drain() {
    uint8_t buffer[65536];
    while (fd_.valid() && !hostClosed_) {
      const ssize_t n = recv(fd_.get(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      hostClosed_ = n <= 0;
      const size_t before = frames_.size();
      if (n > 0) reader_.feed(std::span(buffer, static_cast<size_t>(n)), frames_);
      for (size_t i = before; i < frames_.size(); ++i) {
        (frames_[i].kind == FrameKind::hostMessage ? hostMessages_ : replies_)
            .push_back(frames_[i]);
      }
    }
  }

  posix::FileDescriptor fd_;
  bool hostClosed_ = false;
  FrameReader reader_{kClientReadKinds};
  Frames frames_, replies_, hostMessages_;
};

}  // namespace korvane::testing
