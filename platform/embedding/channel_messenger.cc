#include "platform/embedding/channel_messenger.h"

#include "platform/dispatch_queue.h"
#include "platform/main_thread.h"

namespace korvane {

void ChannelMessenger::setMessageHandler(const std::string& channel, BinaryMessageHandler handler) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (!handler) {
    handlers_.erase(channel);
    return;
  }
  handlers_[channel] = std::make_shared<const BinaryMessageHandler>(std::move(handler));
}

void ChannelMessenger::dispatch(std::string_view channel, std::vector<uint8_t> message,
                                BinaryReply reply) {
  KORVANE_ASSERT_MAIN_THREAD();
  const auto found = handlers_.find(channel);
  if (found == handlers_.end()) {
    reply({});
    return;
  }
  const std::shared_ptr<const BinaryMessageHandler> handler = found->second;
  (*handler)(std::move(message), std::move(reply));
}

bool ChannelMessenger::hasHandler(std::string_view channel) const {
  KORVANE_ASSERT_MAIN_THREAD();
  return handlers_.find(channel) != handlers_.end();
}

void ChannelMessenger::send(const std::string& channel, std::vector<uint8_t> message,
                            BinaryReply reply) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (outlet_) {
    outlet_(channel, std::move(message), std::move(reply));
    return;
  }
  // No engine is running, so no interface can answer.
  if (reply) mainQueue().async([reply = std::move(reply)] { reply({}); });
}

void ChannelMessenger::setOutlet(Outlet outlet) {
  KORVANE_ASSERT_MAIN_THREAD();
  outlet_ = std::move(outlet);
}

}  // namespace korvane
