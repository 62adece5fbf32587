// A BinaryMessenger for tests: keeps the handlers installed (a removed one is
// left empty) and every message sent with its reply callback, so that a test
// calls a handler or answers a message when it chooses.
// Thread: the test's main thread.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/embedding/binary_messenger.h"

namespace korvane::testing {

class RecordingMessenger final : public BinaryMessenger {
 public:
  struct Sent {
    std::string channel;
    std::vector<uint8_t> message;
    BinaryReply reply;  // empty when the sender wants no reply
  };

  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override {
    handlers[channel] = std::move(handler);
  }
  void send(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) override {
    sent.push_back({channel, std::move(message), std::move(reply)});
  }

  std::map<std::string, BinaryMessageHandler> handlers;
  std::vector<Sent> sent;
};

}  // namespace korvane::testing
