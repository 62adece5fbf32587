#include "platform/linux/engine/host_message_reply.h"

#include "platform/dispatch_queue.h"
#include "platform/main_thread.h"

namespace korvane {

HostMessageReply::HostMessageReply(BinaryReply reply, size_t connections)
    : reply_(std::move(reply)), waiting_(connections) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (waiting_ == 0) settle({});
}

HostMessageReply::~HostMessageReply() {
  if (!settled_) settle({});
}

void HostMessageReply::answer(std::vector<uint8_t> payload) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (settled_) return;
  if (!payload.empty()) {
    settle(std::move(payload));
    return;
  }
  if (waiting_ > 0) --waiting_;
  if (waiting_ == 0) settle({});
}

void HostMessageReply::settle(std::vector<uint8_t> payload) {
  settled_ = true;
  if (!reply_) return;
  mainQueue().async([reply = std::move(reply_), payload = std::move(payload)]() mutable {
    reply(std::move(payload));
  });
  reply_ = nullptr;
}

}  // namespace korvane
