// The instance endpoint's calling side: a non-blocking Unix socket driven by
// poll() against one deadline per call.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/linux/ipc/instance_endpoint.h"
#include "platform/linux/posix/errno_code.h"
#include "platform/linux/posix/file_descriptor.h"

namespace korvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long a connect waits before trying again while the listener's backlog
// is full (a Unix socket cannot be polled for that).
constexpr milliseconds kBacklogRetry{5};

struct Failure {
  std::error_code code;
  std::string message;
};

Failure systemFailure(const std::string& what, int error) {
  return Failure{posix::errnoCode(error), what + ": " + std::strerror(error)};
}

Failure timedOut(std::string message) {
  return Failure{std::make_error_code(std::errc::timed_out), std::move(message)};
}

void report(const Failure& failure, std::string* error, std::error_code* code) {
  if (error != nullptr) *error = failure.message;
  if (code != nullptr) *code = failure.code;
}

// Milliseconds left until `deadline`, rounded up; 0 once it has passed.
int millisecondsLeft(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  return static_cast<int>(std::chrono::ceil<milliseconds>(left).count());
}

// Waits for `events` on `fd` until `deadline`; false when the time is up.
// A poll error counts as ready: the next call on the socket reports it.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const int left = millisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, left);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return true;
  }
}

// Connects to the socket at `path` and checks who listens there. Returns the
// connected descriptor, or -1 with `failure` set.
int connectAt(const std::string& path, int32_t pid, uint32_t uid, Clock::time_point deadline,
              Failure& failure) {
  const std::string where = "instance endpoint " + path;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    failure = systemFailure("cannot connect to " + where, ENAMETOOLONG);
    return -1;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  posix::FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) {
    failure = systemFailure("cannot make a socket", errno);
    return -1;
  }
  for (;;) {
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN) {  // the backlog is full; the listener may still catch up
      const int left = millisecondsLeft(deadline);
      if (left == 0) {
        failure = timedOut(where + " did not accept the connection within the time limit");
        return -1;
      }
      std::this_thread::sleep_for(std::min(milliseconds(left), kBacklogRetry));
      continue;
    }
    if (error == EINPROGRESS) {
      if (!waitFor(fd.get(), POLLOUT, deadline)) {
        failure = timedOut(where + " did not accept the connection within the time limit");
        return -1;
      }
      int pending = 0;
      socklen_t size = sizeof pending;
      getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &pending, &size);
      if (pending == 0) break;
      failure = systemFailure("cannot connect to " + where, pending);
      return -1;
    }
    failure = systemFailure("cannot connect to " + where, error);
    return -1;
  }
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
    failure = systemFailure("cannot tell who serves " + where, errno);
    return -1;
  }
  if (peer.uid != uid || peer.pid != pid) {
    failure.code = std::make_error_code(std::errc::permission_denied);
    failure.message = where + " is served by pid " + std::to_string(peer.pid) + " of uid " +
                      std::to_string(peer.uid) + ", not by pid " + std::to_string(pid) +
                      " of uid " + std::to_string(uid) + "; refusing it";
    return -1;
  }
  return fd.release();
}

}  // namespace

bool instanceEndpointExists(const InterfaceAddressInputs& inputs, int32_t pid) {
  const std::string file = instanceEndpointFileName(pid);
  for (const std::string& folder : defaultInterfaceSocketFolders(inputs)) {
    struct stat info {};
    if (lstat((folder + "/" + file).c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) return true;
  }
  return false;
}

std::optional<InstanceEndpointClient> InstanceEndpointClient::connect(
    const InterfaceAddressInputs& inputs, int32_t pid, milliseconds timeout, std::string* error,
    std::error_code* code) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const std::string file = instanceEndpointFileName(pid);
  std::optional<Failure> refusal;  // from a folder that held something
  std::string looked;
  for (const std::string& folder : defaultInterfaceSocketFolders(inputs)) {
    looked += (looked.empty() ? "" : ", ") + folder;
    std::string message;
    if (const std::error_code bad = checkInterfaceSocketFolder(folder, inputs.uid, message)) {
      if (bad != std::errc::no_such_file_or_directory) refusal = Failure{bad, message};
      continue;
    }
    const std::string path = folder + "/" + file;
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
      if (errno != ENOENT)
        refusal = systemFailure("cannot look at instance endpoint " + path, errno);
      continue;
    }
    if (!S_ISSOCK(info.st_mode)) {
      refusal = Failure{std::make_error_code(std::errc::permission_denied),
                        "instance endpoint " + path + " is not a socket; refusing it"};
      continue;
    }
    Failure failure;
    const int fd = connectAt(path, pid, inputs.uid, deadline, failure);
    if (fd >= 0) return InstanceEndpointClient(fd);
    refusal = failure;
    if (failure.code == std::errc::timed_out) break;  // no time left for another folder
  }
  if (!refusal) {
    refusal = Failure{
        std::make_error_code(std::errc::no_such_file_or_directory),
        "no instance endpoint " + file + " of pid " + std::to_string(pid) + " in " + looked};
  }
  report(*refusal, error, code);
  return std::nullopt;
}

InstanceEndpointClient::InstanceEndpointClient(InstanceEndpointClient&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), received_(std::move(other.received_)) {}

InstanceEndpointClient& InstanceEndpointClient::operator=(InstanceEndpointClient&& other) noexcept {
  if (this != &other) {
    closeConnection();
    fd_ = std::exchange(other.fd_, -1);
    received_ = std::move(other.received_);
  }
  return *this;
}

InstanceEndpointClient::~InstanceEndpointClient() { closeConnection(); }

void InstanceEndpointClient::closeConnection() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  received_.clear();
}

std::optional<InstanceReply> InstanceEndpointClient::send(std::string_view request,
                                                          milliseconds timeout, std::string* error,
                                                          std::error_code* code) {
  const Clock::time_point deadline = Clock::now() + timeout;
  const auto fail = [&](Failure failure) -> std::optional<InstanceReply> {
    if (failure.code != std::errc::invalid_argument) closeConnection();
    report(failure, error, code);
    return std::nullopt;
  };
  if (fd_ < 0) {
    return fail(Failure{std::make_error_code(std::errc::not_connected),
                        "the connection to the instance endpoint is closed"});
  }
  if (request.size() > kMaxInstanceLine || request.find('\n') != std::string_view::npos) {
    return fail(
        Failure{std::make_error_code(std::errc::invalid_argument),
                "a request is one line of at most " + std::to_string(kMaxInstanceLine) + " bytes"});
  }

  const std::string line = std::string(request) + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n >= 0) {
      sent += static_cast<size_t>(n);
    } else if (errno == EAGAIN) {
      if (!waitFor(fd_, POLLOUT, deadline)) {
        return fail(
            timedOut("the instance endpoint did not take the request within the time "
                     "limit"));
      }
    } else if (errno != EINTR) {
      return fail(systemFailure("cannot send to the instance endpoint", errno));
    }
  }

  for (;;) {
    const size_t end = received_.find('\n');
    if (end != std::string::npos) {
      const std::string reply = received_.substr(0, end);
      received_.erase(0, end + 1);
      if (auto parsed = parseInstanceReply(reply)) return parsed;
      return fail(Failure{std::make_error_code(std::errc::bad_message),
                          "the instance endpoint's answer is not a reply: " + reply});
    }
    if (received_.size() > kMaxInstanceLine) {
      return fail(Failure{std::make_error_code(std::errc::bad_message),
                          "the instance endpoint's reply is longer than " +
                              std::to_string(kMaxInstanceLine) + " bytes"});
    }
    if (!waitFor(fd_, POLLIN, deadline)) {
      return fail(timedOut("no reply from the instance endpoint within the time limit"));
    }
    // Never more than one line past what is held: the buffer stays bounded.
    char buffer[kMaxInstanceLine + 1];
    const ssize_t n = recv(fd_, buffer, sizeof buffer - received_.size(), 0);
    if (n == 0) {
      return fail(Failure{std::make_error_code(std::errc::connection_reset),
                          "the instance endpoint closed the connection without replying"});
    }
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return fail(systemFailure("cannot read from the instance endpoint", errno));
    }
    received_.append(buffer, static_cast<size_t>(n));
  }
}

}  // namespace korvane
