// The one reply to a message the host sent to every open connection (a
// plug-in calling the interface). Each connection the message went to answers
// once: with the payload of its kind-4 frame, or empty when it closes or its
// peer stops sending first. The first answer with data is the reply; once
// every connection has answered empty, the reply is empty. The reply
// callback, when there is one, runs exactly once, from the main queue, so
// never inside the send() that made the message.
//
// Thread: main thread only. Internal to the engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/embedding/binary_messenger.h"

namespace korvane {

class HostMessageReply {
 public:
  // Waits for `connections` answers; with none, the reply is empty at once.
  HostMessageReply(BinaryReply reply, size_t connections);
  // A reply not made yet is made empty: no answer can come any more.
  ~HostMessageReply();
  HostMessageReply(const HostMessageReply&) = delete;
  HostMessageReply& operator=(const HostMessageReply&) = delete;

  // One connection's answer. Answers after the reply is made are ignored.
  void answer(std::vector<uint8_t> payload);

  // Whether the reply has been made (it may not have run yet).
  bool settled() const { return settled_; }

 private:
  void settle(std::vector<uint8_t> payload);

  BinaryReply reply_;
  size_t waiting_;
  bool settled_ = false;
};

}  // namespace korvane
