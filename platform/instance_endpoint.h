// The instance endpoint: how running copies of the application reach each
// other on Linux, where there is no window server to carry unhide, activate,
// reopen and quit requests between applications.
//
// Every running host listens on a Unix stream socket named "app-<pid>.sock"
// in the default socket folder of the interface connection
// ($XDG_RUNTIME_DIR/korvane, else ${TMPDIR:-/tmp}/korvane-<uid>), with the
// same folder rules (made 0700 when missing; a link, a folder of another user
// or one others may use is refused), the socket file in mode 0600, a stale
// file replaced and a live one never taken over. A peer whose uid differs
// from the host's is closed before anything is read from it; a client checks
// the listener's uid and process identifier the same way before it sends.
//
// Protocol: text lines ending in "\n", at most kMaxInstanceLine bytes each.
// The client sends request lines; the host answers every line with exactly
// one reply line, in order, then goes on reading until the client closes.
//   request := "ping" | "unhide" | "activate" | "reopen" | "quit"
//            | "hide" | "close" | "state"
//   reply   := "ok pid=<pid>" [" " fields] | "error " text
// A line that is too long or not one of the requests is answered with an
// "error" reply; a line too long also closes the connection.
//
// Thread: the server is main thread only (served by the main loop); the
// client is blocking and meant for a worker thread (any thread but the main
// thread).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/embedding/interface_address.h"
#include "platform/logger.h"

namespace korvane {

inline constexpr size_t kMaxInstanceLine = 256;

// The requests, as sent on the wire.
namespace InstanceRequest {
inline constexpr std::string_view ping = "ping";          // is anybody there? (nothing changes)
inline constexpr std::string_view unhide = "unhide";      // NSRunningApplication unhide
inline constexpr std::string_view activate = "activate";  // activate ignoring other apps
inline constexpr std::string_view reopen = "reopen";      // the reopen request of an open
inline constexpr std::string_view quit = "quit";          // the Quit menu command
inline constexpr std::string_view hide = "hide";          // the Hide menu command
inline constexpr std::string_view close = "close";        // close every window
inline constexpr std::string_view state = "state";        // report the application's state
}  // namespace InstanceRequest

// "app-<pid>.sock".
std::string instanceEndpointFileName(int64_t pid);

// A reply line taken apart.
struct InstanceReply {
  bool ok = false;
  int32_t pid = 0;     // the process that answered (ok replies)
  std::string fields;  // what follows "ok pid=<pid>" (without the space), or the error text
};

// Parses one reply line (without its "\n"); nullopt when it is not a reply.
std::optional<InstanceReply> parseInstanceReply(std::string_view line);
// "ok pid=<pid>" followed by " <fields>" when fields is not empty.
std::string okInstanceReply(int32_t pid, std::string_view fields = {});
// "error <text>".
std::string errorInstanceReply(std::string_view text);

// The listening side, served on the main loop. Main thread only.
class InstanceEndpointServer {
 public:
  // Answers one request line (without its "\n") with one reply line (without
  // its "\n"). Runs on the main thread.
  using Handler = std::function<std::string(std::string_view request)>;

  // `logger` must outlive the server.
  explicit InstanceEndpointServer(Logger& logger);
  ~InstanceEndpointServer();  // stop()s
  InstanceEndpointServer(const InstanceEndpointServer&) = delete;
  InstanceEndpointServer& operator=(const InstanceEndpointServer&) = delete;

  // Starts listening at "app-<pid>.sock" in the default socket folder that
  // `inputs` give (their option and environment entries are not used).
  // Returns the error (with a one-line message naming the path and the
  // reason) or nullopt.
  struct StartError {
    std::error_code error;
    std::string message;
  };
  std::optional<StartError> start(const InterfaceAddressInputs& inputs, Handler handler);

  // The socket path; empty when not listening.
  const std::string& path() const;

  // Closes every connection, stops listening and removes the socket file if
  // it is still this server's. Safe to call more than once.
  void stop();

 private:
  class Impl;  // the Linux backend
  std::unique_ptr<Impl> impl_;
};

// The calling side: one connection to the endpoint of process `pid`, blocking
// with a time limit on every step. Any thread but the main thread.
class InstanceEndpointClient {
 public:
  // Connects to the endpoint of `pid` in this user's default socket folders
  // (as `inputs` give them), checking the folder and that the listener is
  // process `pid` of this user. nullopt when there is no such endpoint or it
  // does not accept within `timeout`; `error` then says why.
  static std::optional<InstanceEndpointClient> connect(const InterfaceAddressInputs& inputs,
                                                       int32_t pid,
                                                       std::chrono::milliseconds timeout,
                                                       std::string* error = nullptr);

  InstanceEndpointClient(InstanceEndpointClient&& other) noexcept;
  InstanceEndpointClient& operator=(InstanceEndpointClient&& other) noexcept;
  ~InstanceEndpointClient();

  // Sends `request` and waits up to `timeout` for its reply. nullopt when the
  // connection fails, closes or times out (the connection is then unusable);
  // `error` then says why.
  std::optional<InstanceReply> send(std::string_view request, std::chrono::milliseconds timeout,
                                    std::string* error = nullptr);

 private:
  explicit InstanceEndpointClient(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace korvane
