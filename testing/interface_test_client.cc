#include "testing/interface_test_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/main_loop.h"
#include "testing/unix_socket.h"

namespace korvane::testing {

InterfaceTestClient::InterfaceTestClient(const std::string& path) : fd_(connectUnixSocket(path)) {}

InterfaceTestClient::~InterfaceTestClient() { close(); }

void InterfaceTestClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void InterfaceTestClient::shutdownSending() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

bool InterfaceTestClient::sendBytes(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

size_t InterfaceTestClient::sendWithin(std::span<const uint8_t> bytes,
                                       std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + timeout;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        send(fd_, bytes.data() + done, bytes.size() - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      deadline = Clock::now() + timeout;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    // Polled briefly and sent again: a stream socket reports room only once
    // most of its buffer is free, while a send may go through before that.
    pollfd writable{fd_, POLLOUT, 0};
    poll(&writable, 1, static_cast<int>(std::min<int64_t>(left.count(), 10)));
  }
  return done;
}

bool InterfaceTestClient::awaitReplyWithoutLoop(uint32_t id, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t checked = 0;
  for (;;) {
    drain();
    for (; checked < replies_.size(); ++checked) {
      if (replies_[checked].id == id) return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (hostClosed_ || left.count() <= 0) return false;
    pollfd readable{fd_, POLLIN, 0};
    poll(&readable, 1, static_cast<int>(left.count()) + 1);
  }
}

bool InterfaceTestClient::sendMessage(uint32_t id, std::string_view channel,
                                      const std::vector<uint8_t>& payload) {
  auto frame = encodeMessageFrame(id, channel, payload);
  return frame && sendBytes(*frame);
}

bool InterfaceTestClient::sendHostReply(uint32_t id, const std::vector<uint8_t>& payload) {
  auto frame = encodeReplyFrame(id, payload, FrameKind::hostReply);
  return frame && sendBytes(*frame);
}

void InterfaceTestClient::drain() {
  if (fd_ < 0 || hostClosed_) return;
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
      hostClosed_ = true;
      return;
    }
    const size_t before = frames_.size();
    reader_.feed(std::span(buffer, static_cast<size_t>(n)), frames_);
    for (size_t i = before; i < frames_.size(); ++i) {
      (frames_[i].kind == FrameKind::hostMessage ? hostMessages_ : replies_).push_back(frames_[i]);
    }
  }
}

const std::vector<InterfaceFrame>& InterfaceTestClient::awaitReplies(
    size_t count, std::chrono::milliseconds timeout) {
  runMainLoopUntil(
      [&] {
        drain();
        return replies_.size() >= count || hostClosed_;
      },
      timeout);
  return replies_;
}

const std::vector<InterfaceFrame>& InterfaceTestClient::awaitHostMessages(
    size_t count, std::chrono::milliseconds timeout) {
  runMainLoopUntil(
      [&] {
        drain();
        return hostMessages_.size() >= count || hostClosed_;
      },
      timeout);
  return hostMessages_;
}

bool InterfaceTestClient::awaitClosedByHost(std::chrono::milliseconds timeout) {
  return runMainLoopUntil(
      [&] {
        drain();
        return hostClosed_;
      },
      timeout);
}

}  // namespace korvane::testing
