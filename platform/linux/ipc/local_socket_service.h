// A listening Unix stream socket of this user, served on the default main
// context: the listener behind the interface connection and behind the
// instance endpoint. Each accepted connection whose peer runs as this
// process's uid is handed to the accept handler; any other peer (or one whose
// credentials cannot be read) is closed before a byte is read from it, with
// one log line.
//
// When accepting fails for want of a resource (the process or the system is
// out of descriptors, or of memory), the listener stops watching the socket,
// so nothing spins: it tries again after a short pause, or at once when the
// owner reports that one of its connections has closed. Waiting clients stay
// in the socket's queue and are served as soon as descriptors free up. Such
// an episode is logged once when it starts and once when it ends (failures
// within ten seconds of a logged one belong to the same episode). A few
// descriptors are held in reserve and given up for such an episode, so that
// the rest of the host (a scan, a log line, a sanitizer's own checks) still
// finds some while the connections hold all the others; accepting resumes
// only once the reserve is back.
//
// Thread: main thread only. For the Linux backends (GLib types appear only as
// opaque pointers here).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/diagnostic_log.h"

typedef struct _GSocketConnection GSocketConnection;

namespace korvane {

class LocalSocketService {
 public:
  // Takes the accepted connection (the handler adds its own reference).
  using AcceptHandler = std::function<void(GSocketConnection*)>;

  // How long a listener short of resources waits before it tries again.
  static constexpr std::chrono::milliseconds kRetryPause{250};

  // `socketName` names the socket in messages ("interface socket"),
  // `connectionName` a refused connection's line ("interface connection").
  // `logger` must outlive the service.
  LocalSocketService(DiagnosticLog& logger, std::string socketName, std::string connectionName);
  // Stops listening and removes the socket file if it is still this service's.
  ~LocalSocketService();
  LocalSocketService(const LocalSocketService&) = delete;
  LocalSocketService& operator=(const LocalSocketService&) = delete;

  struct Failure {
    std::error_code error;
    std::string message;  // one line naming the path and the reason
  };
  // Listens at `path` (socket file mode 0600; a stale file is replaced, a live
  // one is never taken over) and hands over connections from the next main
  // loop iteration on. Once only.
  std::optional<Failure> listen(const std::string& path, AcceptHandler accept);

  // The owner calls this when one of its connections has closed: a listener
  // waiting for descriptors tries again at once.
  void connectionClosed();

  const std::string& path() const { return path_; }

 private:
  static int onAcceptable(int fd, unsigned condition, void* self);
  static int onRetry(void* self);
  void acceptWaiting();
  void handOver(int fd);
  void pause(int error);
  void resume();
  void retryLater();
  void watch();
  bool holdReserve();
  void releaseReserve();

  // Descriptors held back from accepting, see above.
  static constexpr size_t kReserve = 8;

  DiagnosticLog& logger_;
  std::string socketName_;
  std::string connectionName_;
  AcceptHandler accept_;
  int fd_ = -1;
  unsigned watch_ = 0;    // the main loop's watch of the socket; 0 while paused
  unsigned retry_ = 0;    // the pause's timer
  bool starved_ = false;  // an episode of failed accepts was logged and goes on
  // When the last episode was logged; a failure sooner after it than
  // kQuietBetweenEpisodes belongs to it.
  std::optional<std::chrono::steady_clock::time_point> lastReported_;
  static constexpr std::chrono::seconds kQuietBetweenEpisodes{10};
  std::vector<int> reserve_;
  std::string path_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

}  // namespace korvane
