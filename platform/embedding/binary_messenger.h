// The messenger of one engine: per-channel handlers of raw message bytes,
// and messages sent the other way, to the interface.
//
// Thread: main thread only, for setting handlers, for sending, and for the
// handlers and reply callbacks it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace korvane {

// Sends the reply bytes of one message. An empty reply means "no reply data"
// (not implemented, no handler, or an undecodable message). Called exactly once.
using BinaryReply = std::function<void(std::vector<uint8_t> reply)>;

using BinaryMessageHandler = std::function<void(std::vector<uint8_t> message, BinaryReply reply)>;

class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Installs (or with an empty handler removes) the handler of `channel`. The
  // handler stays installed for the life of the messenger, independent of any
  // channel object that installed it.
  virtual void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;

  // Sends `message` on `channel` to the interface (a plug-in calling the
  // interface). `reply`, when given, is called exactly once on the main
  // thread, and never before send() has returned: with the interface's reply
  // bytes, or empty when no interface is connected, the interface has no
  // handler for the channel, or the connection closed before it replied.
  // Returns at once.
  virtual void send(const std::string& channel, std::vector<uint8_t> message,
                    BinaryReply reply = nullptr) = 0;
};

}  // namespace korvane
