// Sends one message over the interface connection and waits for its reply.
// Thread: any (plain blocking sockets, bounded by a deadline).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane::tools {

struct CallOutcome {
  enum class Status { replied, unreachable, timedOut, broken };
  Status status = Status::broken;
  std::vector<uint8_t> payload;  // the reply payload when replied
  std::string error;             // otherwise, one line saying what went wrong
};

// Connects to `socketPath`, sends `payload` to `channel` as message 1 and
// returns the payload of the reply with id 1. Messages the host sends while
// it waits (kind 3) are answered with no data. Gives up after `timeout` in all.
CallOutcome sendAndAwaitReply(const std::string& socketPath, const std::string& channel,
                              const std::vector<uint8_t>& payload,
                              std::chrono::milliseconds timeout);

}  // namespace korvane::tools
