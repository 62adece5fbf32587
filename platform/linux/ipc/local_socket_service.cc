#include "platform/linux/ipc/local_socket_service.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/engine/interface_socket_file.h"
#include "platform/linux/posix/errno_code.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

// Connections taken per wake-up before other sources get their turn.
constexpr int kAcceptsPerWake = 32;

std::string errorText(int error) { return posix::errnoCode(error).message(); }

}  // namespace

LocalSocketService::LocalSocketService(DiagnosticLog& logger, std::string socketName,
                                       std::string connectionName)
    : logger_(logger),
      socketName_(std::move(socketName)),
      connectionName_(std::move(connectionName)) {}

LocalSocketService::~LocalSocketService() {
  if (watch_ != 0) g_source_remove(watch_);
  if (retry_ != 0) g_source_remove(retry_);
  if (fd_ >= 0) close(fd_);
  releaseReserve();
  if (!path_.empty()) removeInterfaceSocketFile(path_, device_, inode_);
}

std::optional<LocalSocketService::Failure> LocalSocketService::listen(const std::string& path,
                                                                      AcceptHandler accept) {
  KORVANE_ASSERT_MAIN_THREAD();
  ListeningSocket listening = listenAtInterfaceSocket(path, socketName_);
  if (listening.fd < 0) return Failure{listening.error, listening.message};
  path_ = path;
  device_ = listening.device;
  inode_ = listening.inode;
  fd_ = listening.fd;  // non-blocking: a client that gave up leaves nothing to take
  accept_ = std::move(accept);
  holdReserve();
  watch();
  return std::nullopt;
}

void LocalSocketService::connectionClosed() {
  KORVANE_ASSERT_MAIN_THREAD();
  if (watch_ != 0 || fd_ < 0) return;  // not paused
  if (retry_ != 0) g_source_remove(retry_);
  retry_ = 0;
  resume();
}

bool LocalSocketService::holdReserve() {
  while (reserve_.size() < kReserve) {
    const int spare = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (spare < 0) {
      releaseReserve();
      return false;
    }
    reserve_.push_back(spare);
  }
  return true;
}

void LocalSocketService::releaseReserve() {
  for (const int spare : reserve_) close(spare);
  reserve_.clear();
}

void LocalSocketService::resume() {
  // Accepting starts again only once the reserve is back: otherwise the next
  // client would take the descriptors the rest of the host still needs.
  if (!holdReserve()) {
    retryLater();
    return;
  }
  watch();
}

void LocalSocketService::retryLater() {
  retry_ =
      g_timeout_add(static_cast<guint>(kRetryPause.count()), &LocalSocketService::onRetry, this);
}

void LocalSocketService::watch() {
  watch_ = g_unix_fd_add(fd_, G_IO_IN, reinterpret_cast<GUnixFDSourceFunc>(&onAcceptable), this);
}

int LocalSocketService::onAcceptable(int, unsigned, void* self) {
  static_cast<LocalSocketService*>(self)->acceptWaiting();
  return G_SOURCE_CONTINUE;
}

int LocalSocketService::onRetry(void* self) {
  auto* service = static_cast<LocalSocketService*>(self);
  service->retry_ = 0;
  service->resume();
  return G_SOURCE_REMOVE;
}

void LocalSocketService::acceptWaiting() {
  KORVANE_ASSERT_MAIN_THREAD();
  for (int taken = 0; taken < kAcceptsPerWake && watch_ != 0; ++taken) {
    const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) {
      const int error = errno;
      if (error == EINTR) continue;
      if (error == EAGAIN || error == EWOULDBLOCK) return;
      // A client that gave up while it waited: the next one may be fine.
      if (error == ECONNABORTED || error == EPROTO) continue;
      // Out of descriptors or memory (or anything else that would fail again
      // at once): stop watching instead of spinning.
      pause(error);
      return;
    }
    if (starved_) {
      starved_ = false;
      logger_.log(socketName_ + " " + path_ + ": accepting connections again");
    }
    handOver(client);
  }
}

void LocalSocketService::pause(int error) {
  g_source_remove(watch_);
  watch_ = 0;
  releaseReserve();  // for the rest of the host while the connections hold the others
  retryLater();
  // One episode, one pair of lines: while descriptors come and go at the
  // limit, accepting may succeed and fail again many times a second.
  const auto now = std::chrono::steady_clock::now();
  if (starved_ || (lastReported_ && now - *lastReported_ < kQuietBetweenEpisodes)) return;
  starved_ = true;
  lastReported_ = now;
  logger_.log(socketName_ + " " + path_ + ": cannot accept connections (" + errorText(error) +
              "); new clients wait until descriptors free up");
}

void LocalSocketService::handOver(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  const bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
  if (!known || peer.uid != getuid()) {
    // Closed before a byte is read from it.
    close(fd);
    logger_.log(known ? connectionName_ + " refused: peer uid " + std::to_string(peer.uid) +
                            " is not this host's uid " + std::to_string(getuid())
                      : connectionName_ + " refused: peer credentials unknown");
    return;
  }
  g_autoptr(GSocket) socket = g_socket_new_from_fd(fd, nullptr);
  if (socket == nullptr) {
    close(fd);
    return;
  }
  g_autoptr(GSocketConnection) connection = g_socket_connection_factory_create_connection(socket);
  accept_(connection);
}

}  // namespace korvane
