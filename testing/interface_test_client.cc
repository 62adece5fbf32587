#include "testing/interface_test_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
