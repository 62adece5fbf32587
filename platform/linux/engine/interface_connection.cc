#include "platform/linux/engine/interface_connection.h"

#include <gio/gio.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/dispatch_queue.h"
#include "platform/main_thread.h"

namespace korvane {
namespace {

constexpr size_t kReadBufferSize = 64 * 1024;
// Reads per wake-up before other sources get their turn.
constexpr int kMaxReadsPerWake = 4;
// Frames gathered into one write (two vectors each).
constexpr size_t kMaxWriteVectors = 32;

gboolean onReadable(GSocket*, GIOCondition, gpointer connection) {
  static_cast<InterfaceConnection*>(connection)->handleReadable();
  return G_SOURCE_CONTINUE;
}

gboolean onWritable(GSocket*, GIOCondition, gpointer connection) {
  static_cast<InterfaceConnection*>(connection)->handleWritable();
  return G_SOURCE_CONTINUE;
}

// Sources attach to the default context, which the main thread runs.
GSource* watchSocket(GSocket* socket, GIOCondition condition, GSocketSourceFunc callback,
                     InterfaceConnection* connection) {
  GSource* source = g_socket_create_source(socket, condition, nullptr);
  // Otherwise GLib blocks the source around each dispatch, taking its fd out
  // of the poll set and putting it back, and each of those wakes the loop
  // again: two extra eventfd writes and one extra iteration per message. The
  // connection copes with re-entry (frames are taken out before dispatch).
  g_source_set_can_recurse(source, TRUE);
  g_source_set_callback(source, G_SOURCE_FUNC(callback), connection, nullptr);
  g_source_attach(source, nullptr);
  return source;
}

void unwatch(GSource*& source) {
  if (source == nullptr) return;
  g_source_destroy(source);
  g_source_unref(source);
  source = nullptr;
}

bool wouldBlock(GError* error) {
  return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_WOULD_BLOCK);
}

// The thread that serves connections (the main thread), noted when a
// connection is made there; compared without a system call on every reply.
std::atomic<std::thread::id> servingThread;

void deliver(std::weak_ptr<InterfaceConnection> connection, uint32_t id,
             std::vector<uint8_t> payload) {
  if (std::this_thread::get_id() == servingThread.load(std::memory_order_relaxed)) {
    if (auto live = connection.lock()) live->reply(id, std::move(payload));
    return;
  }
  // A reply made off the main thread is carried there through the main queue.
  mainQueue().async(
      [connection = std::move(connection), id, payload = std::move(payload)]() mutable {
        if (auto live = connection.lock()) live->reply(id, std::move(payload));
      });
}

// The reply of one message, shared by every copy of its BinaryReply: the
// first reply is sent, and if every copy goes without one, an empty reply is.
struct PendingReply {
  PendingReply(std::weak_ptr<InterfaceConnection> c, uint32_t i)
      : connection(std::move(c)), id(i) {}
  ~PendingReply() {
    if (!sent.load(std::memory_order_acquire)) deliver(std::move(connection), id, {});
  }
  void send(std::vector<uint8_t> payload) {
    if (sent.exchange(true, std::memory_order_acq_rel)) return;
    deliver(connection, id, std::move(payload));
  }

  std::weak_ptr<InterfaceConnection> connection;
  uint32_t id;
  std::atomic<bool> sent{false};
};

}  // namespace

InterfaceConnection::InterfaceConnection(GSocketConnection* connection, ChannelMessenger& messenger,
                                         DiagnosticLog& logger, InterfaceConnectionLimits limits,
                                         ClosedCallback onClosed)
    : connection_(G_SOCKET_CONNECTION(g_object_ref(connection))),
      socket_(g_socket_connection_get_socket(connection)),
      messenger_(messenger),
      logger_(logger),
      limits_(limits),
      onClosed_(std::move(onClosed)) {
  KORVANE_ASSERT_MAIN_THREAD();
  servingThread.store(std::this_thread::get_id(), std::memory_order_relaxed);
  g_socket_set_blocking(socket_, FALSE);
}

InterfaceConnection::~InterfaceConnection() {
  close();
  g_object_unref(connection_);
}

void InterfaceConnection::start() {
  KORVANE_ASSERT_MAIN_THREAD();
  updateReading();
}

void InterfaceConnection::close() {
  if (closed_) return;
  closed_ = true;
  unwatch(readSource_);
  unwatch(writeSource_);
  g_io_stream_close(G_IO_STREAM(connection_), nullptr, nullptr);
  outgoing_.clear();
  queuedBytes_ = 0;
  answerHostMessagesEmpty();
}

void InterfaceConnection::closeAndNotify() {
  if (closed_) return;
  close();
  if (onClosed_) onClosed_(*this);
}

void InterfaceConnection::handleReadable() {
  KORVANE_ASSERT_MAIN_THREAD();
  const auto keep = shared_from_this();
  static std::vector<uint8_t> buffer(kReadBufferSize);  // main thread only
  for (int reads = 0; reads < kMaxReadsPerWake && readSource_ != nullptr; ++reads) {
    g_autoptr(GError) error = nullptr;
    const gssize count = g_socket_receive(socket_, reinterpret_cast<gchar*>(buffer.data()),
                                          buffer.size(), nullptr, &error);
    if (count < 0) {
      const bool again = wouldBlock(error);
      if (!again) closeAndNotify();
      return;
    }
    if (count == 0) {
      // The peer sent all it will; what it is still owed is sent before closing.
      peerFinished_ = true;
      unwatch(readSource_);
      answerHostMessagesEmpty();
      finishIfDone();
      return;
    }
    const bool intact = reader_.feed(std::span(buffer.data(), static_cast<size_t>(count)), frames_);
    std::vector<InterfaceFrame> frames = std::move(frames_);
    frames_.clear();
    for (InterfaceFrame& frame : frames) {
      dispatch(frame);
      if (closed_) return;
    }
    frames.clear();
    frames_ = std::move(frames);  // keeps the capacity
    if (!intact) {
      logger_.log("interface connection closed: " + reader_.error());
      closeAndNotify();
      return;
    }
    updateReading();
    if (static_cast<size_t>(count) < buffer.size()) return;
  }
}

void InterfaceConnection::dispatch(InterfaceFrame& frame) {
  if (frame.kind == FrameKind::hostReply) {
    takeHostReply(frame);
    return;
  }
  ++callsInFlight_;
  messenger_.dispatch(frame.channel, std::move(frame.payload), makeReply(frame.id));
}

BinaryReply InterfaceConnection::makeReply(uint32_t id) {
  auto pending = std::make_shared<PendingReply>(weak_from_this(), id);
  return [pending = std::move(pending)](std::vector<uint8_t> payload) {
    pending->send(std::move(payload));
  };
}

void InterfaceConnection::reply(uint32_t id, std::vector<uint8_t> payload) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (closed_) return;
  const auto keep = shared_from_this();
  if (callsInFlight_ > 0) --callsInFlight_;
  if (payload.size() > kMaxReplyPayload) {
    logger_.log("interface connection: the reply to message " + std::to_string(id) + " is " +
                std::to_string(payload.size()) +
                " bytes, more than a frame holds; it was sent without data");
    payload = {};
  }
  const auto header = replyFrameHeader(id, payload.size());
  queue(Outgoing{header, header.size(), std::move(payload), 0});
  if (closed_) return;
  updateReading();
  finishIfDone();
}

void InterfaceConnection::sendHostMessage(uint32_t id, std::vector<uint8_t> frame,
                                          std::shared_ptr<HostMessageReply> reply) {
  KORVANE_ASSERT_MAIN_THREAD();
  if (!takesHostMessages()) {
    reply->answer({});
    return;
  }
  if (queuedBytes_ > limits_.maxQueuedBytes ||
      awaitedHostReplies_.size() >= limits_.maxAwaitedHostReplies) {
    // A peer that does not read or answer them is not sent more to hold.
    if (!refusingHostMessages_) {
      logger_.log(
          "interface connection: host messages are answered empty for a connection "
          "that is not reading or answering them");
    }
    refusingHostMessages_ = true;
    reply->answer({});
    return;
  }
  refusingHostMessages_ = false;
  const auto keep = shared_from_this();
  // An id still awaited from 2^32 messages ago will not be answered any more.
  auto& awaited = awaitedHostReplies_[id];
  if (awaited != nullptr) awaited->answer({});
  awaited = std::move(reply);
  queue(Outgoing{{}, 0, std::move(frame), 0});
  if (closed_) return;
  updateReading();
}

void InterfaceConnection::takeHostReply(InterfaceFrame& frame) {
  const auto found = awaitedHostReplies_.find(frame.id);
  if (found == awaitedHostReplies_.end()) {
    logger_.log("interface connection: ignored a reply to host message " +
                std::to_string(frame.id) + ", which is not awaited");
    return;
  }
  const std::shared_ptr<HostMessageReply> reply = std::move(found->second);
  awaitedHostReplies_.erase(found);
  reply->answer(std::move(frame.payload));
}

void InterfaceConnection::answerHostMessagesEmpty() {
  auto awaited = std::move(awaitedHostReplies_);
  awaitedHostReplies_.clear();
  for (auto& [id, reply] : awaited) reply->answer({});
}

void InterfaceConnection::queue(Outgoing frame) {
  queuedBytes_ += frame.cost();
  outgoing_.push_back(std::move(frame));
  // With a write source armed the socket is full: the queue waits for it.
  if (writeSource_ == nullptr) flush();
}

void InterfaceConnection::handleWritable() {
  KORVANE_ASSERT_MAIN_THREAD();
  const auto keep = shared_from_this();
  flush();
  if (closed_) return;
  updateReading();
  finishIfDone();
}

void InterfaceConnection::flush() {
  while (!outgoing_.empty()) {
    GOutputVector vectors[kMaxWriteVectors];
    guint count = 0;
    for (const Outgoing& frame : outgoing_) {
      if (count + 2 > kMaxWriteVectors) break;
      size_t skip = frame.written;
      if (skip < frame.headerSize) {
        vectors[count++] = {frame.header.data() + skip, frame.headerSize - skip};
        skip = 0;
      } else {
        skip -= frame.headerSize;
      }
      if (skip < frame.payload.size()) {
        vectors[count++] = {frame.payload.data() + skip, frame.payload.size() - skip};
      }
    }
    g_autoptr(GError) error = nullptr;
    const gssize sent = g_socket_send_message(socket_, nullptr, vectors, count, nullptr, 0,
                                              G_SOCKET_MSG_NONE, nullptr, &error);
    if (sent < 0) {
      const bool again = wouldBlock(error);
      if (!again) {
        closeAndNotify();  // the peer has gone: what is queued is dropped
        return;
      }
      if (writeSource_ == nullptr) writeSource_ = watchSocket(socket_, G_IO_OUT, onWritable, this);
      return;
    }
    size_t done = static_cast<size_t>(sent);
    while (done > 0) {
      Outgoing& front = outgoing_.front();
      const size_t left = front.size() - front.written;
      if (done < left) {
        front.written += done;
        break;
      }
      done -= left;
      queuedBytes_ -= front.cost();
      outgoing_.pop_front();
    }
  }
  unwatch(writeSource_);
}

void InterfaceConnection::updateReading() {
  if (closed_ || peerFinished_) return;
  // Checked after each read: one read's calls (64 KiB of them) may go past the bound.
  const bool overloaded =
      queuedBytes_ > limits_.maxQueuedBytes || callsInFlight_ >= limits_.maxCallsInFlight;
  if (readSource_ != nullptr) {
    if (overloaded) unwatch(readSource_);
    return;
  }
  const bool drained =
      queuedBytes_ <= limits_.maxQueuedBytes / 2 && callsInFlight_ <= limits_.maxCallsInFlight / 2;
  if (drained) readSource_ = watchSocket(socket_, G_IO_IN, onReadable, this);
}

void InterfaceConnection::finishIfDone() {
  if (peerFinished_ && callsInFlight_ == 0 && outgoing_.empty()) closeAndNotify();
}

}  // namespace korvane
