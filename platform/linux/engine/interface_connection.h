// One accepted connection of the interface connection: reads frames, hands
// each message to the messenger, and writes the replies back in the order
// they are made, one write at a time with the rest queued behind it. The
// host's own messages (kind 3) join the same queue; the peer's answers to
// them (kind 4) are matched by id, and those still awaited when the
// connection closes or its peer stops sending count as empty answers.
//
// What a peer can make the host hold is bounded (InterfaceConnectionLimits):
// while the write queue is past its bound, counted in the memory its frames
// take, or too many calls are in flight, the connection is not read; a host
// message it cannot take (queue past the bound, or too many answers owed) is
// not sent to it and counts as answered empty.
//
// Thread: main thread only. Internal to the engine (interface_engine.cc).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/diagnostic_log.h"
#include "platform/embedding/channel_messenger.h"
#include "platform/linux/engine/host_message_reply.h"
#include "platform/linux/engine/interface_engine.h"
#include "platform/linux/engine/interface_frame.h"

typedef struct _GSocket GSocket;
typedef struct _GSocketConnection GSocketConnection;
typedef struct _GSource GSource;

namespace korvane {

class InterfaceConnection : public std::enable_shared_from_this<InterfaceConnection> {
 public:
  using ClosedCallback = std::function<void(InterfaceConnection&)>;

  // Takes a reference to `connection`. `onClosed` runs once, when the
  // connection closes for any reason other than the engine's own close().
  InterfaceConnection(GSocketConnection* connection, ChannelMessenger& messenger,
                      DiagnosticLog& logger, InterfaceConnectionLimits limits,
                      ClosedCallback onClosed);
  ~InterfaceConnection();
  InterfaceConnection(const InterfaceConnection&) = delete;
  InterfaceConnection& operator=(const InterfaceConnection&) = delete;

  // Begins reading.
  void start();
  // Closes at once; replies still to come are dropped. Does not run onClosed.
  void close();
  // Queues the reply to message `id` and writes what the socket takes now.
  void reply(uint32_t id, std::vector<uint8_t> payload);

  // Whether host messages go to this connection: it is open and its peer has
  // not finished sending, so it can still answer.
  bool takesHostMessages() const { return !closed_ && !peerFinished_; }
  // Queues `frame`, a whole kind-3 frame with id `id`, behind what is already
  // queued. `reply` gets this connection's answer: the payload of the kind-4
  // frame with that id, or empty when the connection cannot answer. Past the
  // limits (the queue over maxQueuedBytes, or maxAwaitedHostReplies answers
  // owed) the frame is not sent and the answer is empty at once.
  void sendHostMessage(uint32_t id, std::vector<uint8_t> frame,
                       std::shared_ptr<HostMessageReply> reply);

  // Called by the socket's sources when it can be read or written.
  void handleReadable();
  void handleWritable();

 private:
  // malloc's header of the payload's buffer and the queue's spare room, roughly.
  static constexpr size_t kAllocationOverhead = 32;
  // A frame to write: a reply's header and payload, or a whole host message
  // (no header).
  struct Outgoing {
    std::array<uint8_t, kReplyHeaderSize> header;
    size_t headerSize = kReplyHeaderSize;
    std::vector<uint8_t> payload;
    size_t written = 0;  // of header and payload together
    size_t size() const { return headerSize + payload.size(); }
    // What the frame holds in memory while queued.
    size_t cost() const { return sizeof(Outgoing) + kAllocationOverhead + payload.capacity(); }
  };

  void dispatch(InterfaceFrame& frame);
  void takeHostReply(InterfaceFrame& frame);
  // The peer can no longer answer: what it was sent is answered empty.
  void answerHostMessagesEmpty();
  void queue(Outgoing frame);
  BinaryReply makeReply(uint32_t id);
  void flush();
  void updateReading();
  void finishIfDone();
  void closeAndNotify();

  GSocketConnection* connection_;
  GSocket* socket_;
  ChannelMessenger& messenger_;
  DiagnosticLog& logger_;
  InterfaceConnectionLimits limits_;
  ClosedCallback onClosed_;

  FrameReader reader_{kHostReadKinds};
  std::vector<InterfaceFrame> frames_;
  std::deque<Outgoing> outgoing_;
  std::unordered_map<uint32_t, std::shared_ptr<HostMessageReply>> awaitedHostReplies_;
  size_t queuedBytes_ = 0;  // the cost() of every frame in outgoing_
  size_t callsInFlight_ = 0;
  GSource* readSource_ = nullptr;
  GSource* writeSource_ = nullptr;
  bool peerFinished_ = false;  // end of stream read; replies still owed are sent
  bool closed_ = false;
  bool refusingHostMessages_ = false;  // logged once until it takes one again
};

}  // namespace korvane
