// A BinaryMessenger for tests: keeps the handlers installed and every message
// sent with its reply callback, so that a test calls a handler or answers a
// message when it chooses. Thread: the test's main thread.
#pragma once

#include <map>
#include <memory>
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
    if (handler) {
      handlers[channel] = std::move(handler);
    } else {
      handlers.erase(channel);
    }
  }
  void send(const std::string& channel, std::vector<uint8_t> message, BinaryReply reply) override {
    sent.push_back({channel, std::move(message), std::move(reply)});
  }

  // Runs the handler of `channel` on `message`; returns the replies it made
  // before returning.
  std::vector<std::vector<uint8_t>> deliver(const std::string& channel,
                                            std::vector<uint8_t> message) {
    auto replies = std::make_shared<std::vector<std::vector<uint8_t>>>();
    handlers.at(channel)(std::move(message),
                         [replies](std::vector<uint8_t> reply) { replies->push_back(reply); });
    return *replies;
  }

  std::map<std::string, BinaryMessageHandler> handlers;
  std::vector<Sent> sent;
};

}  // namespace korvane::testing
