// One accepted connection of the interface connection: reads frames, hands
// each message to the messenger, and writes the replies back in the order
// they are made, one write at a time with the rest queued behind it.
//
// Thread: main thread only. Internal to the engine (flutter_engine_linux.cc).
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/embedding/channel_messenger.h"
#include "platform/embedding/flutter_engine.h"
#include "platform/embedding/interface_frame.h"
#include "platform/logger.h"

typedef struct _GSocket GSocket;
typedef struct _GSocketConnection GSocketConnection;
typedef struct _GSource GSource;

namespace korvane {

class InterfaceConnection : public std::enable_shared_from_this<InterfaceConnection> {
 public:
  using ClosedCallback = std::function<void(InterfaceConnection&)>;

  // Takes a reference to `connection`. `onClosed` runs once, when the
  // connection closes for any reason other than the engine's own close().
  InterfaceConnection(GSocketConnection* connection, ChannelMessenger& messenger, Logger& logger,
                      InterfaceConnectionLimits limits, ClosedCallback onClosed);
  ~InterfaceConnection();
  InterfaceConnection(const InterfaceConnection&) = delete;
  InterfaceConnection& operator=(const InterfaceConnection&) = delete;

  // Begins reading.
  void start();
  // Closes at once; replies still to come are dropped. Does not run onClosed.
  void close();
  // Queues the reply to message `id` and writes what the socket takes now.
  void reply(uint32_t id, std::vector<uint8_t> payload);

  // Called by the socket's sources when it can be read or written.
  void handleReadable();
  void handleWritable();

 private:
  struct Outgoing {
    std::array<uint8_t, kReplyHeaderSize> header;
    std::vector<uint8_t> payload;
    size_t written = 0;  // of header and payload together
    size_t size() const { return header.size() + payload.size(); }
  };

  void dispatch(InterfaceFrame& frame);
  BinaryReply makeReply(uint32_t id);
  void flush();
  void updateReading();
  void finishIfDone();
  void closeAndNotify();

  GSocketConnection* connection_;
  GSocket* socket_;
  ChannelMessenger& messenger_;
  Logger& logger_;
  InterfaceConnectionLimits limits_;
  ClosedCallback onClosed_;

  FrameReader reader_{kHostReadKinds};
  std::vector<InterfaceFrame> frames_;
  std::deque<Outgoing> outgoing_;
  size_t unsentBytes_ = 0;
  size_t callsInFlight_ = 0;
  GSource* readSource_ = nullptr;
  GSource* writeSource_ = nullptr;
  bool peerFinished_ = false;  // end of stream read; replies still owed are sent
  bool closed_ = false;
};

}  // namespace korvane
