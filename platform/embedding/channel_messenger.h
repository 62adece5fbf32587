// The engine's messenger: the table of channel handlers and the delivery of
// incoming messages to them, and the outlet through which messages go the
// other way while the engine runs.
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
  // Carries a message of send() to the interface. It takes over `reply` (which
  // may be empty) with the promise that send() makes: called once, on the
  // main thread, never before the outlet has returned.
  using Outlet = std::function<void(const std::string& channel, std::vector<uint8_t> message,
                                    BinaryReply reply)>;

  ChannelMessenger() = default;
  ChannelMessenger(const ChannelMessenger&) = delete;
  ChannelMessenger& operator=(const ChannelMessenger&) = delete;

  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override;
  // Hands the message to the outlet. Without one (no engine running) the reply
  // is empty, made later from the main queue.
  void send(const std::string& channel, std::vector<uint8_t> message,
            BinaryReply reply = nullptr) override;

  // Installs the outlet of send(): the engine does when it starts, and clears
  // it (with an empty outlet) when it stops.
  void setOutlet(Outlet outlet);

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
  Outlet outlet_;
};

}  // namespace korvane
