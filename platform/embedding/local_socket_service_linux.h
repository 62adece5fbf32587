// A listening Unix stream socket of this user, served on the default main
// context: the listener behind the interface connection and behind the
// instance endpoint. Each accepted connection whose peer runs as this
// process's uid is handed to the accept handler; any other peer (or one whose
// credentials cannot be read) is closed before a byte is read from it, with
// one log line.
//
// Thread: main thread only. For the Linux backends (GLib types appear only as
// opaque pointers here).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include "platform/logger.h"

typedef struct _GObject GObject;
typedef struct _GSocketConnection GSocketConnection;
typedef struct _GSocketService GSocketService;

namespace korvane {

class LocalSocketService {
 public:
  // Takes the accepted connection (the handler adds its own reference).
  using AcceptHandler = std::function<void(GSocketConnection*)>;

  // `socketName` names the socket in messages ("interface socket"),
  // `connectionName` a refused connection's line ("interface connection").
  // `logger` must outlive the service.
  LocalSocketService(Logger& logger, std::string socketName, std::string connectionName);
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

  const std::string& path() const { return path_; }

 private:
  static int onIncoming(GSocketService*, GSocketConnection* connection, GObject*, void* self);
  void accept(GSocketConnection* connection);
  Failure glibFailure(void* error);

  Logger& logger_;
  std::string socketName_;
  std::string connectionName_;
  AcceptHandler accept_;
  GSocketService* service_ = nullptr;
  std::string path_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

}  // namespace korvane
