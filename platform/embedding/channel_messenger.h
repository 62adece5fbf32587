// The engine's messenger: the table of channel handlers and the delivery of
// incoming messages to them.
//
// Thread: main thread only (asserted in debug builds). Handlers run on the
// main thread, inside dispatch().
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/embedding/binary_messenger.h"

namespace korvane {

class ChannelMessenger final : public BinaryMessenger {
 public:
  ChannelMessenger() = default;
  ChannelMessenger(const ChannelMessenger&) = delete;
  ChannelMessenger& operator=(const ChannelMessenger&) = delete;

  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;
  void send(const std::string& channel, std::vector<uint8_t> message,
            BinaryReply reply = nullptr) override;

  // Delivers `message` to the handler of `channel`, which replies through
  // `reply`. With no handler installed, `reply` is called at once with no data.
  // A handler may replace or remove handlers, its own included, while it runs.
  void dispatch(std::string_view channel, std::vector<uint8_t> message, BinaryReply reply);

  bool hasHandler(std::string_view channel) const;

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  // Shared so that a handler that removes itself is not destroyed while it runs.
  std::unordered_map<std::string, std::shared_ptr<const BinaryMessageHandler>, NameHash,
                     std::equal_to<>>
      handlers_;
};

}  // namespace korvane
