#include "tools/korvane_call/call_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <span>

#include "platform/linux/engine/interface_frame.h"
#include "platform/linux/posix/file_descriptor.h"

namespace korvane::tools {
namespace {

using Clock = std::chrono::steady_clock;
using Status = CallOutcome::Status;

constexpr uint32_t kCallId = 1;

CallOutcome fail(Status status, std::string error) { return {status, {}, std::move(error)}; }

std::string systemError(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

// Waits for `events` on `fd` until `deadline`; false when the time is up.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;  // let the next call report the error
  }
}

// Writes all of `bytes` to `fd` by `deadline`; nullopt once written.
// `what` names what is sent and `failing` begins the error line.
std::optional<CallOutcome> sendAll(int fd, std::span<const uint8_t> bytes,
                                   Clock::time_point deadline, const std::string& what,
                                   const std::string& failing) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) {
        return fail(Status::timedOut, "the host did not take " + what + " within the time limit");
      }
    } else if (n < 0 && errno != EINTR) {
      const int error = errno;
      return fail(error == ENOTCONN || error == ECONNREFUSED ? Status::unreachable : Status::broken,
                  systemError(failing, error));
    }
  }
  return std::nullopt;
}

}  // namespace

CallOutcome sendAndAwaitReply(const std::string& socketPath, const std::string& channel,
                              const std::vector<uint8_t>& payload,
                              std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const auto frame = encodeMessageFrame(kCallId, channel, payload);
  if (!frame) return fail(Status::broken, "the call is too large for one frame");

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
    return fail(Status::unreachable, "socket path " + socketPath + " is not usable");
  }
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  const posix::FileDescriptor socket(
      ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket.valid()) return fail(Status::unreachable, systemError("cannot make a socket", errno));
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    if (error != EAGAIN && error != EINPROGRESS) {
      return fail(Status::unreachable, systemError("cannot connect to " + socketPath, error));
    }
    if (!waitFor(socket.get(), POLLOUT, deadline)) {
      return fail(Status::timedOut, "no connection to " + socketPath + " within the time limit");
    }
  }

  // Calls go only to a host of this user: a socket another user serves could
  // be anybody's listener.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    return fail(Status::unreachable, systemError("cannot tell who serves " + socketPath, errno));
  }
  if (peer.uid != getuid()) {
    return fail(Status::unreachable, socketPath + " is served by uid " + std::to_string(peer.uid) +
                                         ", not by this user's uid " + std::to_string(getuid()) +
                                         "; refusing it");
  }

  if (auto failure =
          sendAll(socket.get(), *frame, deadline, "the call", "cannot send to " + socketPath)) {
    return *failure;
  }

  FrameReader reader(kClientReadKinds);
  std::vector<InterfaceFrame> frames;
  std::vector<uint8_t> buffer(64 * 1024);
  for (;;) {
    for (InterfaceFrame& received : frames) {
      if (received.kind == FrameKind::hostMessage) {
        // This is no interface: the host's message is answered with no data.
        const auto answer = *encodeReplyFrame(received.id, {}, FrameKind::hostReply);
        if (auto failure = sendAll(socket.get(), answer, deadline, "the answer to its message",
                                   "cannot answer the host's message")) {
          return *failure;
        }
      } else if (received.id == kCallId) {
        return {Status::replied, std::move(received.payload), {}};
      }
    }
    frames.clear();
    if (!waitFor(socket.get(), POLLIN, deadline)) {
      return fail(Status::timedOut, "no reply within the time limit");
    }
    const ssize_t n = recv(socket.get(), buffer.data(), buffer.size(), 0);
    if (n == 0) return fail(Status::broken, "the host closed the connection without replying");
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return fail(Status::broken, systemError("cannot read the reply", errno));
    }
    if (!reader.feed(std::span(buffer.data(), static_cast<size_t>(n)), frames)) {
      return fail(Status::broken, "the reply is not a valid frame: " + reader.error());
    }
  }
}

}  // namespace korvane::tools
