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
// Protocol: text lines ending in "\n", each at most kMaxInstanceLine bytes
// before its "\n". The client sends request lines; the host answers every
// line with exactly one reply line, in order, then goes on reading until the
// client closes.
//   request := "ping" | "unhide" | "activate" | "reopen" | "quit"
//            | "hide" | "close" | "state"
//   reply   := "ok pid=<pid>" [" " fields] | "error " text
// A line that is too long or not one of the requests is answered with an
// "error" reply by the server itself (the handler never sees it); a line too
// long also closes the connection once the reply is sent. Bytes after the
// last "\n" when the client closes are dropped unanswered.
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

#include "platform/diagnostic_log.h"
#include "platform/linux/engine/interface_address.h"

namespace korvane {

// The longest request or reply line, in bytes, not counting its "\n".
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

// Whether `line` is one of the requests above (exact, case-sensitive).
bool isInstanceRequest(std::string_view line);

// Whether a socket file "app-<pid>.sock" lies in one of the default socket
// folders that `inputs` give: an lstat each, nothing connected or checked.
// For callers that must not wait. Any thread.
bool instanceEndpointExists(const InterfaceAddressInputs& inputs, int32_t pid);

// Parses one reply line (without its "\n"); nullopt when it is not a reply:
// longer than kMaxInstanceLine, holding a "\n", an "ok" whose pid is not a
// positive decimal 32-bit number directly followed by the end or a space, or
// neither "ok pid=" nor "error " at its start ("error" alone is an error with
// no text).
std::optional<InstanceReply> parseInstanceReply(std::string_view line);
// "ok pid=<pid>" followed by " <fields>" when fields is not empty.
std::string okInstanceReply(int32_t pid, std::string_view fields = {});
// "error <text>", with any "\r" or "\n" in `text` made a space and the line
// cut to kMaxInstanceLine bytes.
std::string errorInstanceReply(std::string_view text);

// The listening side, served on the main loop. Main thread only.
class InstanceEndpointServer {
 public:
  // Answers one request line (without its "\n"; always one of the requests
  // above) with one reply line (without its "\n"). Runs on the main thread;
  // may stop() the server. A reply that parseInstanceReply() refuses is
  // replaced by an error reply and logged.
  using Handler = std::function<std::string(std::string_view request)>;

  // `logger` must outlive the server.
  explicit InstanceEndpointServer(DiagnosticLog& logger);
  ~InstanceEndpointServer();  // stop()s
  InstanceEndpointServer(const InstanceEndpointServer&) = delete;
  InstanceEndpointServer& operator=(const InstanceEndpointServer&) = delete;

  // Starts listening at "app-<pid>.sock" in the default socket folder that
  // `inputs` give (their option and environment entries are not used; the pid
  // is theirs). Returns the error (with a one-line message naming the path
  // and the reason) or nullopt. A peer of another uid is closed unread with
  // one log line. A connection's unanswered input is bounded: reading pauses
  // while its unsent replies pile up.
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
  DiagnosticLog& logger_;
  std::unique_ptr<Impl> impl_;
};

// The calling side: one connection to the endpoint of process `pid`, blocking
// with a time limit on every step. Any thread but the main thread.
class InstanceEndpointClient {
 public:
  // Connects to the endpoint of `pid` in this user's default socket folders
  // (as `inputs` give them, preferred first), checking the folder and that
  // the listener is process `pid` of user `inputs.uid`. nullopt when there is
  // no such endpoint or it does not accept within `timeout`; `error` then
  // says why in one line, and `code` is errc::timed_out for the time limit,
  // errc::no_such_file_or_directory when no folder holds the endpoint,
  // errc::permission_denied for a listener of another process or user or a
  // file that is no socket, checkInterfaceSocketFolder's error for a folder
  // refused, else the system's error (errc::connection_refused for a stale
  // file).
  static std::optional<InstanceEndpointClient> connect(const InterfaceAddressInputs& inputs,
                                                       int32_t pid,
                                                       std::chrono::milliseconds timeout,
                                                       std::string* error = nullptr,
                                                       std::error_code* code = nullptr);

  InstanceEndpointClient(InstanceEndpointClient&& other) noexcept;
  InstanceEndpointClient& operator=(InstanceEndpointClient&& other) noexcept;
  ~InstanceEndpointClient();

  // Sends `request` and waits up to `timeout` for its reply. nullopt when the
  // request is not one line of at most kMaxInstanceLine bytes (nothing is
  // sent; errc::invalid_argument), or when the connection fails, closes or
  // times out or the reply line is too long or not a reply; after those the
  // connection is closed and every later send fails with errc::not_connected.
  // `error` then says why in one line, and `code` is errc::timed_out for the
  // time limit, errc::bad_message for a reply that is not one, else the
  // system's error. Any request text may be sent; the server answers unknown
  // ones with an error reply.
  std::optional<InstanceReply> send(std::string_view request, std::chrono::milliseconds timeout,
                                    std::string* error = nullptr, std::error_code* code = nullptr);

 private:
  explicit InstanceEndpointClient(int fd) : fd_(fd) {}
  void closeConnection();
  int fd_ = -1;
  std::string received_;  // bytes read past the last reply; at most one line
};

}  // namespace korvane
