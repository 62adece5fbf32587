// The engine of the Linux host (the FlutterEngine it hands the shell). Where
// the macOS host runs a Flutter engine in-process, this one listens on the interface connection (a
// Unix socket; see interface_address.h for where) and delivers each platform message it receives to
// its messenger, then sends the reply back as a frame with the same id. While it runs, the
// messenger's send() goes out as a kind-3 frame with a fresh id to every connection whose peer has
// not finished sending (the interface is whoever is connected); the first kind-4 answer with data
// is the reply, and it is empty when nobody is connected, every connection answered empty, or they
// closed (or the engine stopped) before answering. A kind-4 frame with an id not awaited is logged
// and ignored.
//
// Thread: main thread only, which must run the default GLib main context:
// connections are served there, and every handler and reply callback runs
// there. A reply made on another thread (a result dropped on the worker) is
// carried over to the main thread before it is sent.
//
// Bad input: a connection whose framing breaks is logged in one line and
// closed; other connections go on. A peer of another uid is closed unread.
// Replies for a connection that has gone are dropped when they are made.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "platform/diagnostic_log.h"
#include "platform/embedding/channel_messenger.h"
#include "platform/embedding/flutter_engine.h"
#include "platform/linux/engine/interface_address.h"

namespace korvane {

// Why the engine could not start listening.
struct EngineStartError {
  std::error_code error;
  std::string message;  // one line for the user, naming the path and the reason
};

// Bounds on what one connection may make the host hold. Past maxQueuedBytes
// or maxCallsInFlight the engine stops reading from the connection, and reads
// again once it is back under half of each; the calls it sent are answered as
// usual once it reads its replies. A host message is not sent to a connection
// whose queue is past maxQueuedBytes or that already owes
// maxAwaitedHostReplies answers: that connection counts as answering it empty.
struct InterfaceConnectionLimits {
  // The write queue (replies and host messages not written yet), each frame
  // counted as the memory it takes: its buffer as allocated plus the queue's
  // own bookkeeping, so that many small replies count what they cost.
  size_t maxQueuedBytes = 4 * 1024 * 1024;
  // Calls read and not replied to yet.
  size_t maxCallsInFlight = 4096;
  // Host messages sent and not answered yet.
  size_t maxAwaitedHostReplies = 1024;
};

class InterfaceEngine final : public FlutterEngine {
 public:
  // `logger` must outlive the engine.
  explicit InterfaceEngine(DiagnosticLog& logger, InterfaceConnectionLimits limits = {});
  ~InterfaceEngine() override;  // stop()s
  InterfaceEngine(const InterfaceEngine&) = delete;
  InterfaceEngine& operator=(const InterfaceEngine&) = delete;

  // The engine's one messenger, the same on every call. Handlers may be
  // installed before or after start().
  BinaryMessenger& binaryMessenger() override { return messenger_; }

  // Starts listening: at `interfaceSocketOption` (the --interface-socket
  // value, used as given) if present, otherwise where the address rules say.
  // Returns nullopt on success. Fails on a folder that is refused, a path that
  // is in use by a live host (never taken over), or a socket error.
  std::optional<EngineStartError> start(std::optional<std::string> interfaceSocketOption);
  // The same with the inputs spelled out (tests, or a caller that already
  // read the environment).
  std::optional<EngineStartError> start(const InterfaceAddressInputs& inputs);

  // The socket path listened on; empty before start() succeeds and after stop().
  const std::string& interfaceSocketPath() const { return socketPath_; }

  // Closes every connection (their pending replies are dropped, and host
  // messages they still owe an answer are answered empty), stops listening
  // and removes the socket file if it is still this engine's. Safe to call
  // more than once.
  void stop();

  // Connections currently open (for diagnostics and tests).
  size_t connectionCount() const;

 private:
  class Server;

  DiagnosticLog& logger_;
  InterfaceConnectionLimits limits_;
  ChannelMessenger messenger_;
  std::string socketPath_;
  std::unique_ptr<Server> server_;  // destroyed before the messenger
};

}  // namespace korvane
